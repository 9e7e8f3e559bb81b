#include "platform/system.h"

#include <windows.h>

#include <vector>

#include "platform/strings.h"

namespace orv {

OsVersion osVersion() {
  OsVersion v;
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOW info{sizeof(info)};
  if (rtlGetVersion && rtlGetVersion(&info) == 0) {
    v.major = info.dwMajorVersion;
    v.minor = info.dwMinorVersion;
    v.build = info.dwBuildNumber;
  }
  return v;
}

bool is64BitWindows() {
#ifdef _WIN64
  return true;
#else
  BOOL wow = FALSE;
  using Fn = BOOL(WINAPI*)(HANDLE, BOOL*);
  auto isWow = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
  return isWow && isWow(GetCurrentProcess(), &wow) && wow;
#endif
}

bool isAdministrator() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &admins))
    return false;
  BOOL member = FALSE;
  if (!CheckTokenMembership(nullptr, admins, &member)) member = FALSE;
  FreeSid(admins);
  return member != FALSE;
}

std::string moduleFileName() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n < buf.size()) return narrow(std::wstring_view(buf.data(), n));
    buf.resize(buf.size() * 2);
  }
}

std::string tempFolder() {
  std::vector<wchar_t> buf(33408);
  const DWORD n = GetTempPathW(static_cast<DWORD>(buf.size()), buf.data());
  std::string t = narrow(std::wstring_view(buf.data(), n < buf.size() ? n : 0));
  if (t.empty() || t.back() != '\\') t += '\\';
  return t;
}

}  // namespace orv
