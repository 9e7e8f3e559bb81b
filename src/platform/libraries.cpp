#include "platform/libraries.h"

namespace orv {

void restrictLibrarySearch() {
  // Present on Windows 8 and on Windows 7 with the loader update; kernel32 is always loaded.
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  using SetDefaultDirsFn = BOOL(WINAPI*)(DWORD);
  auto setDefault = reinterpret_cast<SetDefaultDirsFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Without it, at least take the current folder out of the search.
  SetDllDirectoryW(L"");
}

std::wstring systemFolder() {
  wchar_t buf[MAX_PATH];
  const UINT n = GetSystemDirectoryW(buf, MAX_PATH);
  std::wstring folder(buf, n < MAX_PATH ? n : 0);
  if (folder.empty() || folder.back() != L'\\') folder += L'\\';
  return folder;
}

HMODULE loadSystemLibrary(std::wstring_view fileName) {
  const std::wstring path = systemFolder() + std::wstring(fileName);
  if (HMODULE m = GetModuleHandleW(path.c_str())) return m;
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE loadLibraryAt(const std::wstring& fullPath) {
  return LoadLibraryExW(fullPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace orv
