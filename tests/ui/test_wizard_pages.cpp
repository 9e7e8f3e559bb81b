// Real setups with designed pages, driven like a user: clicks and typing through xdotool on the Xvfb
// display, pages found and read through Win32. Each run ends with a trail of digits as its exit code
// (e2e/script_run.h), so the script's own checks of the variables come back in one number. Screenshots
// of the pages go to the build's ui-artifacts folder.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <set>

#include "core/text.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "ui/ui_driver.h"

namespace orv::test {
namespace {

std::vector<std::string> page(const std::string& name, const char* modal = "TRUE") {
  return {"Display Dialog", name, "WIZARD", modal, "", "TRUE", "FALSE"};
}
// Leaves `digit` in the trail when the variable reads the value.
ScriptLines markIf(const std::string& variable, const std::string& value, int digit) {
  return {{"If", variable, "0", value, "FALSE"}, mark(digit), {"End"}};
}
void append(ScriptLines& lines, const ScriptLines& more) { lines.insert(lines.end(), more.begin(), more.end()); }

std::string label(const std::string& name, int left, int top, const std::string& caption, int width = 420) {
  return "  object " + name + ": TLabel\n    Left = " + std::to_string(left) + "\n    Top = " + std::to_string(top) +
         "\n    Width = " + std::to_string(width) + "\n    Height = 13\n    Caption = '" + caption + "'\n  end\n";
}
std::string edit(const std::string& name, int top, const std::string& hint, int tag = 0) {
  return "  object " + name + ": TEdit\n    Left = 24\n    Top = " + std::to_string(top) +
         "\n    Width = 330\n    Height = 21\n    Hint = '" + hint + "'\n    Tag = " + std::to_string(tag) + "\n  end\n";
}
std::string checkBox(const std::string& name, int top, const std::string& caption, const std::string& hint) {
  return "  object " + name + ": TRzCheckBox\n    Left = 24\n    Top = " + std::to_string(top) +
         "\n    Width = 300\n    Height = 17\n    Caption = '" + caption + "'\n    Hint = '" + hint + "'\n  end\n";
}

TEST(WizardPages, NextNextBackCancelThroughThreePages) {
  PageFiles files;
  files.designs["welcome"] = wizardPage("Welcome", "Welcome to $TITLE$", label("Intro", 24, 76, "This wizard installs the product."));
  files.designs["license"] = wizardPage("License", "License agreement", label("Terms", 24, 76, "Please read the terms."));
  files.designs["ready"] = wizardPage("Ready", "Ready to install", label("Go", 24, 76, "Click Next to install."));
  ScriptLines lines = {{"Set Variable", "TRAIL", "9"}, {"Set Variable", "WIZARD", "NEXT"}, {"Set Variable", "TITLE", "Lumen"}, {"Wizard Loop"},
                       page("welcome"), page("license"), page("ready"), {"End"}};
  append(lines, markIf("WIZARD", "CANCEL", 1));
  append(lines, markIf("ABORT", "TRUE", 2));
  lines.push_back({"Terminate with Exit Code", "$TRAIL$"});
  RunningSetup setup(buildPageSetup(lines, files));

  HWND welcome = waitForPage(setup, "Welcome to Lumen");
  ASSERT_TRUE(welcome);
  screenshot("wizard-welcome");
  click(childWithText(welcome, "&Next >"));
  HWND license = waitForPage(setup, "License agreement");
  ASSERT_TRUE(license);
  EXPECT_TRUE(eventually([&] { return !IsWindowVisible(welcome); }));  // the old page goes once the new one is up
  click(childWithText(license, "&Next >"));
  HWND ready = waitForPage(setup, "Ready to install");
  ASSERT_TRUE(ready);
  click(childWithText(ready, "< &Back"));
  license = waitForPage(setup, "License agreement");
  ASSERT_TRUE(license);
  click(childWithText(license, "Cancel"));
  HWND question = waitForWindowWithText(setup, "Are you sure you want to cancel?");
  ASSERT_TRUE(question);
  screenshot("wizard-cancel-question");
  click(childWithText(question, "&Yes"));
  EXPECT_EQ(setup.wait(), 912u);
}

TEST(WizardPages, CancelAnsweredNoKeepsThePage) {
  PageFiles files;
  files.designs["only"] = wizardPage("Only", "Only page", "");
  ScriptLines lines = {{"Set Variable", "TRAIL", "9"}, {"Set Variable", "WIZARD", "NEXT"}, page("only")};
  append(lines, markIf("WIZARD", "NEXT", 1));
  append(lines, markIf("ABORT", "FALSE", 2));
  lines.push_back({"Terminate with Exit Code", "$TRAIL$"});
  RunningSetup setup(buildPageSetup(lines, files));
  HWND only = waitForPage(setup, "Only page");
  ASSERT_TRUE(only);
  HWND cancel = childWithText(only, "Cancel");
  click(cancel);
  HWND question = waitForWindowWithText(setup, "Are you sure you want to cancel?");
  ASSERT_TRUE(question);
  click(childWithText(question, "&No"));
  EXPECT_TRUE(eventually([&] { return IsWindowVisible(only) && IsWindowEnabled(cancel); }));
  // A close request by the user is refused: the page stays.
  PostMessageW(only, WM_SYSCOMMAND, SC_CLOSE, 0);
  Sleep(300);
  EXPECT_TRUE(IsWindowVisible(only));
  click(childWithText(only, "&Next >"));
  EXPECT_EQ(setup.wait(), 912u);
}

TEST(WizardPages, EditsAndCheckBoxesWriteTheirVariablesAtOnce) {
  PageFiles files;
  files.designs["user"] = wizardPage(
      "User", "Your details",
      label("NameLabel", 24, 72, "&Name:") + edit("NameEdit", 88, "$CUSTOMER$") + label("Mirror", 24, 120, "Hello $CUSTOMER$") +
          checkBox("Agree", 150, "I &agree", "AGREED") + edit("Copy", 180, "CUSTOMER", 100));
  // A rule: Next is enabled only while the box is checked.
  files.others["user.dfm.orvf"] = "IF (Agree.Checked = False)  THEN  NextButton.Enabled := False;\r\n"
                                  "IF (Agree.Checked = True)  THEN  NextButton.Enabled := True;\r\n";
  ScriptLines lines = {{"Set Variable", "TRAIL", "9"}, {"Set Variable", "WIZARD", "NEXT"}, {"Set Variable", "CUSTOMER", "Ann"}, {"Set Variable", "AGREED", "FALSE"}, page("user")};
  append(lines, markIf("CUSTOMER", "Ann Lee", 1));
  append(lines, markIf("AGREED", "TRUE", 2));
  append(lines, markIf("WIZARD", "NEXT", 3));
  lines.push_back({"Terminate with Exit Code", "$TRAIL$"});
  RunningSetup setup(buildPageSetup(lines, files));
  HWND user = waitForPage(setup, "Your details");
  ASSERT_TRUE(user);
  HWND name = childOfClass(user, L"Edit", 0);
  HWND next = childWithText(user, "&Next >");
  EXPECT_EQ(textOf(name), "Ann");
  EXPECT_FALSE(IsWindowEnabled(next));  // the rule holds from the start
  click(name);
  pressKeys("End");
  typeText(" Lee");
  // The mirror edit follows the variable while the user types.
  EXPECT_TRUE(eventually([&] { return textOf(childOfClass(user, L"Edit", 1)) == "Ann Lee"; }));
  click(childWithText(user, "I &agree"));
  EXPECT_TRUE(eventually([&] { return IsWindowEnabled(next) != FALSE; }));
  screenshot("edits-and-check-box");
  click(next);
  EXPECT_EQ(setup.wait(), 9123u);
}

// The keyboard alone, on a modal page and then a modeless one: Alt+mnemonic, Tab and Shift+Tab between
// the controls, Space on a check box, Enter for the default button, Esc for Cancel.
TEST(WizardPages, KeyboardWalksModalAndModelessPages) {
  PageFiles files;
  files.designs["user"] = wizardPage("User", "Your details",
                                     label("NameLabel", 24, 72, "&Your name:") + edit("NameEdit", 88, "$CUSTOMER$") +
                                         "  object Mode: TComboBox\n    Left = 362\n    Top = 88\n    Width = 100\n"
                                         "    Height = 21\n    Style = csDropDownList\n    Hint = 'MODE'\n"
                                         "    Items.Strings = (\n      'Typical'\n      'Custom')\n  end\n" +
                                         "  object Options: TGroupBox\n    Left = 16\n    Top = 128\n    Width = 440\n"
                                         "    Height = 52\n    Caption = 'Terms'\n  end\n" +
                                         checkBox("Agree", 150, "I a&gree", "AGREED"));
  files.designs["second"] = wizardPage("Second", "Second page", label("Body", 24, 76, "Escape asks, Enter goes on."));
  files.designs["busy"] = wizardPage("Busy", "Working", label("Body", 24, 76, "The script is busy."));
  ScriptLines lines = {{"Set Variable", "TRAIL", "9"}, {"Set Variable", "WIZARD", "NEXT"}, {"Set Variable", "CUSTOMER", "Ann"},
                       {"Set Variable", "AGREED", "FALSE"}, {"Set Variable", "ZORN_IsCancelled", "FALSE"},
                       {"Set Variable", "MODE", "Typical"},
                       page("user"), page("second"), page("busy", "FALSE"),
                       {"Set Variable", "I", "0"}, {"While", "ZORN_IsCancelled", "0", "TRUE", "TRUE"},
                       {"Mathematics", "$I$", "1", "0", "I"}, {"Wend"}, {"Hide Dialog"}};
  append(lines, markIf("CUSTOMER", "Ann Lees", 1));
  append(lines, markIf("AGREED", "TRUE", 2));
  append(lines, markIf("ZORN_IsCancelled", "TRUE", 3));
  append(lines, markIf("MODE", "Custom", 4));
  lines.push_back({"Terminate with Exit Code", "$TRAIL$"});
  RunningSetup setup(buildPageSetup(lines, files));

  HWND user = waitForPage(setup, "Your details");
  ASSERT_TRUE(user);
  click(childWithText(user, "&Your name:"));  // the page gets the keyboard; a label takes no focus
  HWND name = childOfClass(user, L"Edit", 0);
  pressKeys("alt+y");
  pressKeys("End");
  typeText(" Lee");
  pressKeys("Tab");  // the drop-down list, made after start-up but in its designed place
  pressKeys("Down");
  pressKeys("Tab");
  pressKeys("space");
  pressKeys("shift+Tab");
  pressKeys("shift+Tab");
  pressKeys("End");
  typeText("s");
  EXPECT_TRUE(eventually([&] { return textOf(name) == "Ann Lees"; })) << textOf(name);
  EXPECT_EQ(SendMessageW(childWithText(user, "I a&gree"), BM_GETCHECK, 0, 0), BST_CHECKED);
  screenshot("keyboard-details");
  pressKeys("Return");

  HWND second = waitForPage(setup, "Second page");
  ASSERT_TRUE(second);
  pressKeys("Escape");
  HWND question = waitForWindowWithText(setup, "Are you sure you want to cancel?");
  ASSERT_TRUE(question);
  click(childWithText(question, "&No"));
  EXPECT_TRUE(eventually([&] { return !IsWindowVisible(question); }));
  click(childWithText(second, "Escape asks, Enter goes on."));
  pressKeys("Return");

  // Modeless: the script's own loop handles the page's messages.
  HWND busy = waitForPage(setup, "Working");
  ASSERT_TRUE(busy);
  click(childWithText(busy, "The script is busy."));
  pressKeys("Escape");
  question = waitForWindowWithText(setup, "Are you sure you want to cancel?");
  ASSERT_TRUE(question);
  click(childWithText(question, "&Yes"));
  EXPECT_EQ(setup.wait(), 91234u);
}

TEST(WizardPages, DestinationBrowseKeepsTheProductFolders) {
  // Outside the hidden profile folders, which the picker's tree does not open.
  const std::string root = "C:\\orvui-browse-" + std::to_string(GetCurrentProcessId()) + "\\";
  deleteTree(root);
  createFolders(root + "dest");
  createFolders(root + "other");
  const std::string expected = root + "other\\Vendor\\Lumen";
  PageFiles files;
  files.designs["destination"] = wizardPage(
      "Destination", "Destination folder",
      label("Where", 24, 72, "Install to:") + edit("Target", 88, "TARGETDIR", 2) +
          "  object Browse: TButton\n    Left = 362\n    Top = 86\n    Width = 90\n    Height = 25\n"
          "    Caption = 'B&rowse...'\n    Tag = 4\n  end\n");
  ScriptLines lines = {{"Set Variable", "TRAIL", "9"}, {"Set Variable", "WIZARD", "NEXT"}, {"Set Variable", "TARGETDIR", root + "dest\\Vendor\\Lumen"},
                       page("destination")};
  append(lines, markIf("TARGETDIR", expected, 1));
  lines.push_back({"Terminate with Exit Code", "$TRAIL$"});
  RunningSetup setup(buildPageSetup(lines, files));
  HWND destination = waitForPage(setup, "Destination folder");
  ASSERT_TRUE(destination);
  screenshot("destination");
  click(childWithText(destination, "B&rowse..."));
  // Like a user: find the test folder by typing its name in the tree, open it, and choose "other", the
  // sibling of the existing "dest".
  HWND picker = waitForWindowWithText(setup, "OK");
  ASSERT_TRUE(picker);
  Sleep(500);
  click(childOfClass(picker, L"SysTreeView32"));
  pressKeys("Home");
  typeText(fileNameOf(root.substr(0, root.size() - 1)));
  pressKeys("Right");
  Sleep(1500);  // a new incremental search
  typeText("other");
  screenshot("destination-picker");
  click(childWithText(picker, "OK"));
  HWND target = childOfClass(destination, L"Edit", 0);
  EXPECT_TRUE(eventually([&] { return textOf(target) == expected; })) << textOf(target);
  click(childWithText(destination, "&Next >"));
  EXPECT_EQ(setup.wait(), 91u);
  deleteTree(root);
}

}  // namespace
}  // namespace orv::test

namespace orv::test {
namespace {

// A modeless progress page over a copy of large files by the native engine on its worker.
struct ProgressRun {
  static constexpr int kFiles = 2500;
  std::string root = freshFolder("progress");
  PageFiles files;
  ScriptLines lines;

  ProgressRun() {
    createFolders(root + "src");
    // Many small files: each costs the engine its own decisions and undo records, so the copy lasts long
    // enough to watch whatever the machine's disk speed.
    for (int i = 0; i < kFiles; ++i) writeWholeFile(root + "src\\part" + std::to_string(i) + ".bin", "x");
    files.designs["progress"] = wizardPage(
        "Progress", "Installing $TITLE$",
        "  object Status: TStaticText\n    Left = 24\n    Top = 76\n    Width = 420\n    Height = 17\n"
        "    AutoSize = False\n    Tag = 1\n  end\n"
        "  object Bar: TProgressBar\n    Left = 24\n    Top = 100\n    Width = 428\n    Height = 17\n    Tag = 1\n  end\n");
    lines = {{"Set Variable", "TRAIL", "9"},          {"Set Variable", "WIZARD", "NEXT"},
             {"Set Variable", "TITLE", "Lumen"},      {"Set Variable", "NATIVE_ENGINE", "TRUE"},
             {"Set Variable", "ABORTEDONERROR", "FALSE"},
             {"Set Variable", "ABORTONERROR", "FALSE"},     {"Display Dialog", "progress", "WIZARD", "FALSE", "", "TRUE", "FALSE"},
             {"Copy/Move Local Files", root + "src", "*.bin", root + "dest", "", "FALSE", "FALSE"},
             {"Hide Dialog"}};
    append(lines, markIf("WIZARD", "NOTMODAL", 1));
    append(lines, markIf("ABORTEDONERROR", "TRUE", 2));
    append(lines, markIf("WINDOWHANDLE", "0", 3));
    lines.push_back({"Terminate with Exit Code", "$TRAIL$"});
  }
  ~ProgressRun() { deleteTree(root); }

};

int barPosition(HWND bar) { return static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)); }

std::string statusText(HWND progress) { return textOf(childOfClass(progress, L"Static", 1)); }

TEST(ProgressPage, ScriptProgressShowsAtOnce) {
  ProgressRun run;
  // Without a worker: the script sets the values, then keeps the interpreter busy until the test ends it.
  run.lines.erase(run.lines.begin() + 7);
  run.lines.insert(run.lines.begin() + 7, {{"Set Variable", "PROGRESS", "40"}, {"Set Variable", "PROGRESSTEXT", "Half way"},
                                           {"Set Variable", "I", "0"}, {"While", "I", "0", "100000000", "TRUE"},
                                           {"Mathematics", "$I$", "1", "0", "I"}, {"Wend"}});
  RunningSetup setup(buildPageSetup(run.lines, run.files));
  HWND progress = waitForPage(setup, "Installing Lumen");
  ASSERT_TRUE(progress);
  HWND bar = childOfClass(progress, L"msctls_progress32");
  EXPECT_TRUE(eventually([&] { return barPosition(bar) == 40 && statusText(progress) == "Half way"; }))
      << barPosition(bar) << " " << statusText(progress);
  screenshot("progress-script");
}

TEST(ProgressPage, FollowsTheWorker) {
  ProgressRun run;
  RunningSetup setup(buildPageSetup(run.lines, run.files));
  HWND progress = waitForPage(setup, "Installing Lumen");
  ASSERT_TRUE(progress);
  // The page is refreshed once a second while the worker runs: it shows the file being copied. (How many
  // refreshes a run sees depends on the machine's speed, so one is enough.)
  std::set<std::string> shown;
  while (setup.running()) {
    const std::string text = statusText(progress);
    if (text.find("\\dest\\part") != std::string::npos && shown.insert(text).second && shown.size() == 1)
      screenshot("progress-worker");
    Sleep(100);
  }
  EXPECT_GE(shown.size(), 1u);
  EXPECT_EQ(setup.wait(), 913u);
  EXPECT_TRUE(fileExists(run.root + "dest\\part" + std::to_string(ProgressRun::kFiles - 1) + ".bin"));
}

// A cancel while the native engine copies. With ABORTONERROR "FALSE" the step ends as cancelled and the
// script goes on with ABORTEDONERROR set; with "TRUE" the copies made so far are rolled back and the run
// ends at that step, so none of the script's later lines leave their digit.
TEST(ProgressPage, CancelDuringTheWorker) {
  struct Case {
    const char* abortOnError;
    uint32_t exitCode;
    bool copiesKept;
  };
  for (const Case& c : {Case{"FALSE", 9123u, true}, Case{"TRUE", 0u, false}}) {
    SCOPED_TRACE(std::string("ABORTONERROR ") + c.abortOnError);
    ProgressRun run;
    run.lines[5] = {"Set Variable", "ABORTONERROR", c.abortOnError};
    RunningSetup setup(buildPageSetup(run.lines, run.files));
    HWND progress = waitForPage(setup, "Installing Lumen");
    ASSERT_TRUE(progress);
    ASSERT_TRUE(eventually([&] { return statusText(progress).find("part") != std::string::npos; }, 20000));
    HWND cancel = childWithText(progress, "Cancel");
    click(cancel);
    HWND question = waitForWindowWithText(setup, "Are you sure you want to cancel?");
    ASSERT_TRUE(question);
    click(childWithText(question, "&Yes"));
    EXPECT_TRUE(eventually([&] { return !IsWindowEnabled(cancel); }));
    HWND cancelled = waitForWindowWithText(setup, "Setup cancelled", 20000);
    ASSERT_TRUE(cancelled);
    screenshot(std::string("progress-cancelled-") + c.abortOnError);
    click(childWithText(cancelled, "OK"));
    EXPECT_EQ(setup.wait(), c.exitCode);
    bool anyCopy = false;
    for (int i = 0; i < ProgressRun::kFiles && !anyCopy; ++i)
      anyCopy = fileExists(run.root + "dest\\part" + std::to_string(i) + ".bin");
    EXPECT_EQ(anyCopy, c.copiesKept);
  }
}

}  // namespace
}  // namespace orv::test
