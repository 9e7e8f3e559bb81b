// A library that registers itself the way COM servers do, for the installation engine's tests: its
// registration entry points record (and remove) its own path under HKCU\Software\OrvaneTest\SelfReg.
#include <windows.h>

#include <cwchar>

namespace {

constexpr wchar_t kKey[] = L"Software\\OrvaneTest\\SelfReg";
HMODULE self = nullptr;

bool ownPath(wchar_t (&path)[MAX_PATH]) { return GetModuleFileNameW(self, path, MAX_PATH) > 0; }

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) self = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
  wchar_t path[MAX_PATH];
  HKEY key = nullptr;
  if (!ownPath(path) || RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr))
    return E_FAIL;
  const DWORD one = 1;
  RegSetValueExW(key, path, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
  RegCloseKey(key);
  return S_OK;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
  wchar_t path[MAX_PATH];
  HKEY key = nullptr;
  if (!ownPath(path) || RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_WRITE, &key)) return S_OK;
  RegDeleteValueW(key, path);
  RegCloseKey(key);
  return S_OK;
}

// The ODBC set-up entry point: records the data sources it is asked to add and removes them again.
extern "C" __declspec(dllexport) BOOL WINAPI ConfigDSNW(HWND, WORD request, LPCWSTR, LPCWSTR attributes) {
  const wchar_t* dsn = nullptr;
  for (const wchar_t* a = attributes; a && *a; a += wcslen(a) + 1)
    if (_wcsnicmp(a, L"DSN=", 4) == 0) dsn = a + 4;
  if (!dsn) return FALSE;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\OrvaneTest\\SelfReg\\DSN", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr))
    return FALSE;
  const bool add = request == 1 || request == 4;  // ODBC_ADD_DSN, ODBC_ADD_SYS_DSN
  const DWORD kind = request;
  if (add) RegSetValueExW(key, dsn, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kind), sizeof(kind));
  else RegDeleteValueW(key, dsn);
  RegCloseKey(key);
  return TRUE;
}
