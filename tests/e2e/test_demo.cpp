// The demo product as orvmake builds it (examples/demo): a silent installation from its media block
// beside the setup, a silent maintenance run of the cached engine, and the removal through the uninstall
// entry, after which nothing of the product is left. The setup folder comes from scripts/demo (which
// builds it and runs this test with ORV_DEMO_SETUP set); without it the cases are skipped.
#include <gtest/gtest.h>

#include <windows.h>

#include "core/text.h"
#include "e2e/demo_product.h"
#include "e2e/harness.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "support/windows_test.h"

namespace orv::test {
namespace {

using namespace demo;

std::string readText(const std::string& path) {
  std::string text;
  readWholeFile(path, text);
  return text;
}

class DemoProduct : public ::testing::Test {
 protected:
  void SetUp() override {
    if (builtSetupFolder().empty()) GTEST_SKIP() << "ORV_DEMO_SETUP names no demo setup folder (scripts/demo builds one and runs this test)";
    ASSERT_FALSE(RegistryKey::exists(HKEY_LOCAL_MACHINE, kUninstallKey))
        << "the demo is installed already: remove it through its uninstall entry first";
    publisherKeyBefore = RegistryKey::exists(HKEY_LOCAL_MACHINE, kPublisherKey);
    work = freshFolder("demo");
    setup = work + "setup\\";
    target = work + "target\\";
    copySetup(setup);
  }

  void TearDown() override {
    if (work.empty()) return;
    forceRemoval(cacheFolder);  // a failed case must not leave the product behind for the next one
    deleteTree(work);
  }

  std::string productValue(const std::string& name) const {
    const auto key = RegistryKey::open(HKEY_LOCAL_MACHINE, kProductKey);
    return key ? key->getString(name).value_or("<none>") : "<no key>";
  }

  std::string work, setup, target, cacheFolder;
  bool publisherKeyBefore = false;
};

TEST_F(DemoProduct, InstallsSilentlyIsMaintainedAndLeavesNothingAfterItsUninstallEntry) {
  // Without its trailing backslash: a backslash before the closing quote would escape it.
  const std::string targetArgument = target.substr(0, target.size() - 1);
  ASSERT_EQ(runCommandIn("\"" + setup + "setup.exe\" /s \"TARGETDIR=" + targetArgument + "\"", setup), 0u);

  // The files of the chosen components (program files and documentation, not the samples).
  EXPECT_EQ(readText(target + "readme.txt").substr(0, 15), "Orvane Demo 1.0");
  for (const char* name : {"license.txt", "orvdemo.cmd", "settings.ini", "docs\\guide.txt"})
    EXPECT_TRUE(fileExists(target + name)) << name;
  EXPECT_FALSE(folderExists(target + "samples"));
  EXPECT_TRUE(fileExists(startMenuFolder() + "Orvane Demo Read Me.lnk"));
  EXPECT_EQ(productValue("Version"), "1.0");
  EXPECT_EQ(productValue("Maintained"), "FALSE");

  // In the list of installed programs, pointing at the cached engine.
  const auto entry = RegistryKey::open(HKEY_LOCAL_MACHINE, kUninstallKey);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->getString("DisplayName").value_or(""), kTitle);
  EXPECT_EQ(entry->getString("DisplayVersion").value_or(""), "1.0");
  const std::string uninstall = entry->getString("UninstallString").value_or("");
  const std::string cached = programOf(uninstall);
  ASSERT_FALSE(cached.empty()) << uninstall;
  EXPECT_NE(uninstall.find("REMOVE=TRUE MODIFY=FALSE"), std::string::npos) << uninstall;
  cacheFolder = folderOf(cached);
  EXPECT_TRUE(fileExists(cached));
  EXPECT_TRUE(folderExists(cacheFolder + "DEMO")) << "the unpacked block stays for repairs";
  EXPECT_TRUE(fileExists(setup + "DEMO.7zip")) << "an archive beside the setup is not deleted";

  // A silent maintenance run of the cached engine repairs: MAINTENANCE reads "TRUE", a lost file returns.
  ASSERT_TRUE(DeleteFileW(widen(target + "settings.ini").c_str()));
  ASSERT_EQ(runCommandIn("\"" + cached + "\" /s", cacheFolder), 0u);
  EXPECT_EQ(productValue("Maintained"), "TRUE");
  EXPECT_TRUE(fileExists(target + "settings.ini"));

  // The uninstall entry, silently, started in the cache folder it removes.
  ASSERT_EQ(runCommandIn(uninstall + " /s", cacheFolder), 0u);
  for (const std::string& left : leftovers(target, cacheFolder, publisherKeyBefore)) ADD_FAILURE() << "left: " << left;
  EXPECT_TRUE(fileExists(setup + "DEMO.7zip"));
}

}  // namespace
}  // namespace orv::test
