// Safe library loading. A setup often runs from a download folder that may hold planted DLLs, so the
// engine restricts the default search to the system folder at start and loads every system library it
// needs at run time by its full System32 path; only the archive library and plug-ins load from the
// program's own folders, by full path.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

namespace orv {

// Called first thing in the program: removes the current and program folders from the DLL search.
void restrictLibrarySearch();
std::wstring systemFolder();  // with a trailing backslash
// Loads a system library (for example L"comctl32.dll") from the system folder; null when it fails.
HMODULE loadSystemLibrary(std::wstring_view fileName);
// Loads a library by its full path (the archive library, plug-ins).
HMODULE loadLibraryAt(const std::wstring& fullPath);

// A function of a system library, or null.
template <typename Fn>
Fn systemFunction(std::wstring_view library, const char* name) {
  HMODULE m = loadSystemLibrary(library);
  return m ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
}

}  // namespace orv
