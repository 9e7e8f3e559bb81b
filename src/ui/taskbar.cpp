#include "ui/taskbar.h"

#include <objbase.h>
#include <shobjidl.h>

#include "platform/strings.h"
#include "platform/system.h"

namespace orv {
namespace {

TBPFLAG flagOf(TaskbarState state) {
  switch (state) {
    case TaskbarState::Indeterminate: return TBPF_INDETERMINATE;
    case TaskbarState::Error: return TBPF_ERROR;
    case TaskbarState::Paused: return TBPF_PAUSED;
    case TaskbarState::Normal: break;
  }
  return TBPF_NORMAL;
}

}  // namespace

Taskbar::~Taskbar() {
  if (list_) list_->Release();
  if (comStarted_) CoUninitialize();
}

ITaskbarList3* Taskbar::list() {
  if (tried_) return list_;
  tried_ = true;
  const OsVersion os = osVersion();
  if (os.major < 6 || (os.major == 6 && os.minor < 1)) return nullptr;
  comStarted_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  ITaskbarList3* created = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              reinterpret_cast<void**>(&created))) ||
      !created)
    return nullptr;
  if (FAILED(created->HrInit())) {
    created->Release();
    return nullptr;
  }
  list_ = created;
  return list_;
}

void Taskbar::show(HWND window, const TaskbarView& view) {
  ITaskbarList3* l = window ? list() : nullptr;
  if (!l) return;
  if (view.state == TaskbarState::Normal || view.state == TaskbarState::Indeterminate) l->SetProgressState(window, flagOf(view.state));
  if (view.value) l->SetProgressValue(window, view.value->first, view.value->second);
  if (view.state == TaskbarState::Error || view.state == TaskbarState::Paused) l->SetProgressState(window, flagOf(view.state));
}

void Taskbar::setState(HWND window, TaskbarState state) {
  if (ITaskbarList3* l = window ? list() : nullptr) l->SetProgressState(window, flagOf(state));
}

void Taskbar::setOverlay(HWND window, HICON icon, const std::string& description) {
  if (ITaskbarList3* l = window ? list() : nullptr) l->SetOverlayIcon(window, icon, widen(description).c_str());
}

std::string Taskbar::attention(bool on, bool error, const std::string& currentMode) {
  if (!on) {
    overrideActive_ = false;
    return savedMode_;
  }
  if (!overrideActive_) {
    savedMode_ = currentMode;
    overrideActive_ = true;
  }
  return error ? "ERROR" : "PAUSE";
}

}  // namespace orv
