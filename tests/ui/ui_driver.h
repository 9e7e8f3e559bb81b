// Driving real setups with wizard pages under Wine and Xvfb: pages are written in the design text form
// and packed into the setup's resource archive; the running setup is driven like a user with xdotool
// (mouse clicks and typing on the X display) and its windows are found and read through Win32.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "e2e/script_run.h"

namespace orv::test {

// A wizard page: the caption, the controls between the title and the button row (design text objects),
// and Back/Next/Cancel buttons with their navigation roles.
std::string wizardPage(const std::string& name, const std::string& caption, const std::string& body,
                       int width = 480, int height = 320);

struct PageFiles {
  std::map<std::string, std::string> designs;  // dialog name -> design text
  std::map<std::string, std::string> others;   // support file name -> content (rules files, readme ...)
};

// A setup whose resource archive holds the pages (converted to the binary form) and the other files.
SetupFolder buildPageSetup(const ScriptLines& lines, const PageFiles& files);

// A setup process started without waiting for it.
class RunningSetup {
 public:
  RunningSetup(const SetupFolder& setup, const std::string& arguments = {});
  ~RunningSetup();
  RunningSetup(const RunningSetup&) = delete;
  RunningSetup& operator=(const RunningSetup&) = delete;
  // The exit code, or 999 when it did not end in time (it is then ended).
  uint32_t wait(uint32_t timeoutMs = 30000);
  bool running() const;
  DWORD processId() const { return processId_; }

 private:
  HANDLE process_ = nullptr;
  DWORD processId_ = 0;
};

// The visible page of the process with this caption (waits for it); null when none came up in time.
HWND waitForPage(const RunningSetup& setup, const std::string& caption, uint32_t timeoutMs = 15000);
// A visible top-level window of the process whose child controls show `text` (message boxes, pickers).
HWND waitForWindowWithText(const RunningSetup& setup, const std::string& text, uint32_t timeoutMs = 10000);
// A child control showing this text, or the n-th child of this window class.
HWND childWithText(HWND parent, const std::string& text);
HWND childOfClass(HWND parent, const std::wstring& className, int n = 0);
std::string textOf(HWND window);

// User input through the X display.
void click(HWND control);
// A click at a point of the control, in pixels from its top-left corner.
void clickAt(HWND control, int x, int y);
void typeText(const std::string& text);
void pressKeys(const std::string& keys);  // xdotool key names, e.g. "ctrl+a", "Down", "Return"
// A screenshot of the whole display under the build's artifact folder.
std::string screenshot(const std::string& name);

// Waits until `condition` holds or the time is up; returns whether it held.
template <typename Condition>
bool eventually(Condition condition, uint32_t timeoutMs = 10000) {
  const ULONGLONG until = GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() > until) return false;
    Sleep(50);
  }
}

}  // namespace orv::test
