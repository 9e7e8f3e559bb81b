#include "platform/redirection.h"

#include <windows.h>

#include <array>

#include "core/text.h"
#include "platform/strings.h"
#include "platform/system.h"

namespace orv {
namespace {

#ifdef _WIN64
std::string windowsFolder() {
  wchar_t buf[MAX_PATH];
  const UINT n = GetSystemWindowsDirectoryW(buf, MAX_PATH);
  return withTrailingBackslash(narrow(std::wstring_view(buf, n < MAX_PATH ? n : 0)));
}

// Sub-folders of the system folder that WOW64 does not redirect.
constexpr std::array<std::string_view, 5> kSharedSystemFolders = {"catroot\\", "catroot2\\", "drivers\\etc\\",
                                                                   "logfiles\\", "spool\\"};

// `rest` follows "<windows>\System32" in a path: empty, or a backslash and more.
bool redirectedBelowSystem32(std::string_view rest) {
  if (rest.empty()) return true;
  if (rest[0] != '\\') return false;
  const std::string below = std::string(rest.substr(1)) + "\\";
  for (std::string_view shared : kSharedSystemFolders)
    if (startsWithNoCase(below, shared)) return false;
  return true;
}

std::string replaceFolder(std::string_view path, size_t length, std::string_view with) {
  return std::string(with) + std::string(path.substr(length));
}
#endif

using Wow64DisableFn = BOOL(WINAPI*)(PVOID*);
using Wow64RevertFn = BOOL(WINAPI*)(PVOID);

template <typename Fn>
Fn kernelFunction(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

}  // namespace

bool isNativePlatform(std::string_view platform) { return !equalsNoCase(platform, "Win32"); }

RegistryView registryViewOf(std::string_view platform) {
  return isNativePlatform(platform) ? RegistryView::Bits64 : RegistryView::Bits32;
}

std::string mapPathForPlatform(std::string_view path, bool native) {
#ifdef _WIN64
  if (native) return std::string(path);
  static const std::string windows = windowsFolder();
  for (std::string_view alias : {std::string_view("System32"), std::string_view("Sysnative")}) {
    const std::string folder = windows + std::string(alias);
    if (!startsWithNoCase(path, folder)) continue;
    const std::string_view rest = path.substr(folder.size());
    if (alias == "Sysnative" && (rest.empty() || rest[0] == '\\')) return replaceFolder(path, folder.size(), windows + "System32");
    if (alias == "System32" && redirectedBelowSystem32(rest)) return replaceFolder(path, folder.size(), windows + "SysWOW64");
  }
  return std::string(path);
#else
  (void)native;
  return std::string(path);
#endif
}

FileSystemView::FileSystemView(std::string_view platform) : native_(isNativePlatform(platform)) {
#ifndef _WIN64
  if (native_ && is64BitWindows()) {
    static const auto disable = kernelFunction<Wow64DisableFn>("Wow64DisableWow64FsRedirection");
    disabled_ = disable && disable(&previous_);
  }
#endif
}

FileSystemView::~FileSystemView() {
#ifndef _WIN64
  if (disabled_) {
    static const auto revert = kernelFunction<Wow64RevertFn>("Wow64RevertWow64FsRedirection");
    if (revert) revert(previous_);
  }
#endif
}

std::string FileSystemView::map(std::string_view path) const { return mapPathForPlatform(path, native_); }

}  // namespace orv
