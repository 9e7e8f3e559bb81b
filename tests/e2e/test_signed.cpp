// A setup signed after it was built (a certificate table appended behind the image) still starts and
// reads its image. Three ctest steps: Prepare writes the setup, a host script signs it, Runs runs it.
#include <gtest/gtest.h>

#include "e2e/harness.h"
#include "platform/files.h"

namespace orv::test {
namespace {

const char kSignedFolder[] = "C:\\orvtest-signed\\";

TEST(SignedSetup, Prepare) {
  deleteTree(kSignedFolder);
  ASSERT_TRUE(createFolders(kSignedFolder));
  const SetupFolder built = buildSetup(scriptImage({{"Comment", "signed"}}));
  for (const char* name : {"setup.exe", "setup.res", "orv.lib"})
    ASSERT_TRUE(copyFileOver(built.folder + name, std::string(kSignedFolder) + name));
  std::string bytes;
  ASSERT_TRUE(readWholeFile(built.exe, bytes));
  ASSERT_TRUE(writeWholeFile(std::string(kSignedFolder) + "unsigned-size.txt", std::to_string(bytes.size())));
}

TEST(SignedSetup, Runs) {
  std::string unsignedSize;
  ASSERT_TRUE(readWholeFile(std::string(kSignedFolder) + "unsigned-size.txt", unsignedSize));
  const SetupFolder setup{kSignedFolder, std::string(kSignedFolder) + "setup.exe"};
  ASSERT_GT(fileSize(setup.exe), std::stoll(unsignedSize)) << "the signature was not appended";
  EXPECT_EQ(runSetup(setup, "/s").exitCode, 0u);
}

}  // namespace
}  // namespace orv::test
