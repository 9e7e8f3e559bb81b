// The engine's start and end as a user sees them: exit codes, messages, the support folder and the
// phase trace of real runs.
#include <gtest/gtest.h>

#include <windows.h>

#include <future>

#include "e2e/harness.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace orv::test {
namespace {

const SetupImage& emptyScript() {
  static const SetupImage img = scriptImage({});
  return img;
}

TEST(StartupTest, ExitCodesOfTheStartupFailures) {
  struct Case {
    const char* name;
    SetupOptions options;
    uint32_t exitCode;
    const char* message;
  };
  const Case cases[] = {
      {"nothing appended", {.appendImage = false}, 13, "For internal use only"},
      {"no resource archive", {.resource = ""}, 14, "Setup resource not found"},
      {"corrupt resource archive", {.resource = "corrupt.res"}, 15, "Setup resource decompression failure"},
      {"no archive library", {.withLibrary = false}, 15, "Setup resource decompression failure"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SetupFolder setup = buildSetup(emptyScript(), c.options);
    // Silent: no message, the code alone.
    EXPECT_EQ(runSetup(setup, "/s").exitCode, c.exitCode);
    // With the user interface: the message box shows the text under the default caption.
    auto run = std::async(std::launch::async, [&] { return runSetup(setup, ""); });
    EXPECT_EQ(dismissMessageBox("Orvane Wizard", 30000), c.message);
    EXPECT_EQ(run.get().exitCode, c.exitCode);
  }
}

TEST(StartupTest, NormalRunTracesItsPhasesInOrder) {
  const SetupFolder setup = buildSetup(emptyScript());
  const std::string trace = setup.folder + "trace.log";
  const RunResult r = runSetup(setup, "/s /l=" + trace, {.tracePath = trace});
  EXPECT_EQ(r.exitCode, 0u);
  const std::vector<std::string> expected = {
      "<Orvane>", "    <SupportDir>", "    </SupportDir>", "  <SetupSplash>", "    <StubSize>", "    </StubSize>",
      "    <StubData>", "    </StubData>", "    <GlobalLists>", "    </GlobalLists>", "    <ExtractArchive>",
      "    </ExtractArchive>", "    <ResourcePath>", "    </ResourcePath>", "    <Dialogs>", "    </Dialogs>",
      "  </SetupSplash>", "  <RunScript>"};
  ASSERT_GE(r.trace.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(r.trace.begin(), r.trace.begin() + expected.size()), expected);
  const std::vector<std::string> ending = {"  </RunScript>", "  <Free>", "  </Free>", "  <CachedSupportDir>",
                                           "  </CachedSupportDir>", "</Orvane>"};
  EXPECT_EQ(std::vector<std::string>(r.trace.end() - ending.size(), r.trace.end()), ending);
}

TEST(StartupTest, SupportFolderIsNumberedAndRemovedOnlyAfterANormalRun) {
  const std::string temp = freshFolder("tmp");
  createFolders(temp + "orv1");
  const SetupFolder good = buildSetup(emptyScript());
  EXPECT_EQ(runSetup(good, "/s", {.tempFolder = temp}).exitCode, 0u);
  EXPECT_FALSE(folderExists(temp + "orv2"));  // used and removed again
  EXPECT_TRUE(folderExists(temp + "orv1"));

  const SetupFolder noRes = buildSetup(emptyScript(), {.resource = ""});
  EXPECT_EQ(runSetup(noRes, "/s", {.tempFolder = temp}).exitCode, 14u);
  EXPECT_TRUE(folderExists(temp + "orv2"));  // left in place after 14
}

TEST(StartupTest, TruncatedImageIsARuntimeError) {
  SetupImage img = emptyScript();
  const std::string bytes = writeImage(img);
  const SetupFolder setup = buildSetup(img);
  std::string exe;
  ASSERT_TRUE(readWholeFile(setup.exe, exe));
  exe.resize(exe.size() - bytes.size() / 2);  // cut in the middle of the image
  ASSERT_TRUE(writeWholeFile(setup.exe, exe));
  EXPECT_EQ(runSetup(setup, "-QN").exitCode, 11u);
  auto run = std::async(std::launch::async, [&] { return runSetup(setup, ""); });
  EXPECT_EQ(dismissMessageBox("Orvane Wizard", 30000).rfind("Runtime error in install: ", 0), 0u);
  EXPECT_EQ(run.get().exitCode, 11u);
}

TEST(StartupTest, RegistersAsHostApplication) {
  const SetupFolder setup = buildSetup(emptyScript(), {.exeName = "hostapp-check.exe"});
  EXPECT_EQ(runSetup(setup, "/s").exitCode, 0u);
  auto key = RegistryKey::open(HKEY_CLASSES_ROOT, "Applications\\hostapp-check.exe");
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->getString("IsHostApp"), std::optional<std::string>(""));
}

}  // namespace
}  // namespace orv::test
