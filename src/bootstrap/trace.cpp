#include "bootstrap/trace.h"

#include <windows.h>

#include "platform/handles.h"
#include "platform/strings.h"

namespace orv {

void Trace::setPath(std::string_view path) {
  std::lock_guard guard(lock_);
  path_.assign(path);
}

void Trace::line(std::string_view text) {
  std::lock_guard guard(lock_);
  if (path_.empty()) return;
  const DWORD disposition = truncated_ ? OPEN_ALWAYS : CREATE_ALWAYS;
  UniqueHandle file = ownFileHandle(CreateFileW(widen(path_).c_str(), FILE_APPEND_DATA | GENERIC_WRITE,
                                                FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  truncated_ = true;
  std::wstring w = widen(text);
  w += L"\r\n";
  SetFilePointer(file.get(), 0, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(file.get(), w.data(), static_cast<DWORD>(w.size() * sizeof(wchar_t)), &written, nullptr);
}

}  // namespace orv
