// The demo product (examples/demo, built by orvmake) installed through its wizard like a user would:
// welcome, license accepted, a folder typed, a component added, Install, the progress page, Finish.
// Started again it offers maintenance; Remove takes everything away again. The setup folder comes from
// ORV_DEMO_SETUP (tests/e2e/run-demo-tests.sh and scripts/demo build it); without it the case is skipped.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include "e2e/demo_product.h"
#include "platform/files.h"
#include "ui/ui_driver.h"

namespace orv::test {
namespace {

using namespace demo;

// The page whose title shows `title`, once it is the one on screen.
HWND pageTitled(const RunningSetup& setup, const std::string& title) {
  HWND page = waitForWindowWithText(setup, title, 30000);
  if (page && !eventually([&] { return IsWindowVisible(page) != FALSE; })) return nullptr;
  return page;
}

class DemoWizard : public ::testing::Test {
 protected:
  void SetUp() override {
    if (builtSetupFolder().empty()) GTEST_SKIP() << "ORV_DEMO_SETUP names no demo setup folder";
    ASSERT_FALSE(RegistryKey::exists(HKEY_LOCAL_MACHINE, kUninstallKey)) << "the demo is installed already";
    publisherKeyBefore = RegistryKey::exists(HKEY_LOCAL_MACHINE, kPublisherKey);
    work = freshFolder("demo-wizard");
    setup = {work + "setup\\", work + "setup\\setup.exe"};
    copySetup(setup.folder);
  }
  void TearDown() override {
    if (work.empty()) return;
    forceRemoval(cacheFolder);
    if (!target.empty()) deleteTree(target);
    deleteTree(work);
  }

  SetupFolder setup;
  std::string work, target, cacheFolder;
  bool publisherKeyBefore = false;
};

TEST_F(DemoWizard, InstallsThroughItsPagesAndItsMaintenancePageRemovesIt) {
  {
    RunningSetup run(setup);
    HWND welcome = pageTitled(run, "Version 1.0");
    ASSERT_TRUE(welcome);
    EXPECT_EQ(textOf(welcome), "Orvane Demo Setup");
    screenshot("demo-1-welcome");
    click(childWithText(welcome, "&Next >"));

    HWND license = pageTitled(run, "License Agreement");
    ASSERT_TRUE(license);
    HWND next = childWithText(license, "&Next >");
    EXPECT_FALSE(IsWindowEnabled(next)) << "nothing accepted yet";
    click(childWithText(license, "I &accept the terms of the license agreement"));
    ASSERT_TRUE(eventually([&] { return IsWindowEnabled(next) != FALSE; }));
    screenshot("demo-2-license");
    click(next);

    HWND destination = pageTitled(run, "Destination Folder");
    ASSERT_TRUE(destination);
    HWND folder = childOfClass(destination, L"Edit", 0);
    // The proposed folder with a few letters typed at its end (a short text: long typing under load
    // is what the X keyboard emulation garbles, not the page).
    std::string proposed;
    ASSERT_TRUE(eventually([&] { return !(proposed = textOf(folder)).empty(); }));
    const bool trailingBackslash = proposed.back() == '\\';
    if (trailingBackslash) proposed.pop_back();
    target = proposed + "walk";
    click(folder);
    pressKeys(trailingBackslash ? "End BackSpace" : "End");
    typeText("walk");
    EXPECT_TRUE(eventually([&] { return textOf(folder) == target; })) << textOf(folder);
    screenshot("demo-3-destination");
    click(childWithText(destination, "&Next >"));

    HWND components = pageTitled(run, "Select Components");
    ASSERT_TRUE(components);
    // Samples, the third entry, is not chosen at first: a click on its box checks it.
    HWND list = childOfClass(components, L"SysListView32", 0);
    ASSERT_TRUE(list);
    clickAt(list, 10, 37);
    const auto samplesChecked = [&] {
      return (SendMessageW(list, LVM_GETITEMSTATE, 2, LVIS_STATEIMAGEMASK) & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
    };
    EXPECT_TRUE(eventually(samplesChecked));
    screenshot("demo-4-components");
    click(childWithText(components, "&Next >"));

    HWND ready = pageTitled(run, "Ready to Install");
    ASSERT_TRUE(ready);
    EXPECT_TRUE(childWithText(ready, target + "\\") || childWithText(ready, target)) << "the chosen folder is shown";
    screenshot("demo-5-ready");
    click(childWithText(ready, "&Install"));

    HWND finish = pageTitled(run, "&Finish");
    ASSERT_TRUE(finish);
    screenshot("demo-6-finish");
    click(childWithText(finish, "&Finish"));
    EXPECT_EQ(run.wait(60000), 0u);
  }
  const std::string installed = target + "\\";
  for (const char* name : {"readme.txt", "license.txt", "docs\\guide.txt", "samples\\hello.txt"})
    EXPECT_TRUE(fileExists(installed + name)) << name;
  EXPECT_TRUE(fileExists(startMenuFolder() + "Orvane Demo Read Me.lnk"));
  const std::string cached = programOf(uninstallString());
  ASSERT_FALSE(cached.empty()) << "registered in the list of installed programs";
  cacheFolder = folderOf(cached);

  {
    RunningSetup run(setup);
    HWND maintenance = pageTitled(run, "Modify, Repair or Remove");
    ASSERT_TRUE(maintenance);
    click(childWithText(maintenance, "R&emove"));
    screenshot("demo-7-maintenance");
    click(childWithText(maintenance, "&Next >"));
    EXPECT_EQ(run.wait(60000), 0u);
  }
  for (const std::string& left : leftovers(installed, cacheFolder, publisherKeyBefore)) ADD_FAILURE() << "left: " << left;
}

}  // namespace
}  // namespace orv::test
