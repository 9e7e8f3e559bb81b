// A stand-in for a DLL an attacker plants beside a downloaded setup: when anything loads it, it leaves
// a marker file named after itself in its own folder.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 16];
  const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  lstrcatW(path, L".loaded");
  HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  return TRUE;
}

// The names the real libraries export that a loader might look up.
extern "C" __declspec(dllexport) HRESULT WINAPI DwmIsCompositionEnabled(BOOL* on) {
  *on = FALSE;
  return S_OK;
}
