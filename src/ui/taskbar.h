// The taskbar button of the pages (Windows 7 and later): progress value and state, and the overlay
// icon. Every call is guarded; without the taskbar interface the pages simply show no taskbar feedback.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "ui/binding_rules.h"

struct ITaskbarList3;

namespace orv {

class Taskbar {
 public:
  Taskbar() = default;
  ~Taskbar();
  Taskbar(const Taskbar&) = delete;
  Taskbar& operator=(const Taskbar&) = delete;

  void show(HWND window, const TaskbarView& view);
  void setState(HWND window, TaskbarState state);
  void setOverlay(HWND window, HICON icon, const std::string& description);

  // SetTaskbarAttention: a question (paused) or an error (red) while a box is up; off restores the mode.
  // Returns the PROGRESSMODE value to write.
  std::string attention(bool on, bool error, const std::string& currentMode);

 private:
  ITaskbarList3* list();
  ITaskbarList3* list_ = nullptr;
  bool tried_ = false;
  bool comStarted_ = false;
  bool overrideActive_ = false;
  std::string savedMode_;
};

}  // namespace orv
