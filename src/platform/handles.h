// RAII owners for Win32 handles: a unique_ptr with the right closing call.
#pragma once
#include <windows.h>

#include <memory>

namespace orv {

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;
// CreateFile reports failure as INVALID_HANDLE_VALUE; this keeps such a handle empty.
inline UniqueHandle ownFileHandle(HANDLE h) { return UniqueHandle(h == INVALID_HANDLE_VALUE ? nullptr : h); }

struct RegKeyCloser {
  void operator()(HKEY k) const {
    if (k) RegCloseKey(k);
  }
};
using UniqueRegKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyCloser>;

struct ModuleFreer {
  void operator()(HMODULE m) const {
    if (m) FreeLibrary(m);
  }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

struct FindCloser {
  void operator()(HANDLE h) const {
    if (h && h != INVALID_HANDLE_VALUE) FindClose(h);
  }
};
using UniqueFind = std::unique_ptr<void, FindCloser>;

}  // namespace orv
