#include "e2e/harness.h"

#include <windows.h>

#include <atomic>

#include "core/script_image.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/strings.h"
#include "platform/system.h"

namespace orv::test {

std::string fixture(const std::string& name) { return hostPath(ORV_FIXTURES) + "\\" + name; }

std::string freshFolder(const std::string& tag) {
  static std::atomic<int> counter{0};
  const std::string folder = tempFolder() + "orvtest-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(counter++) + "\\";
  deleteTree(folder);
  createFolders(folder);
  return folder;
}

SetupFolder buildSetup(const SetupImage& image, const SetupOptions& options) {
  SetupFolder s;
  s.folder = freshFolder("setup");
  s.exe = s.folder + options.exeName;
  std::string bytes;
  if (!readWholeFile(hostPath(ORV_STUB), bytes)) throw std::runtime_error("cannot read the engine program");
  if (options.appendImage) bytes += writeImage(image);
  writeWholeFile(s.exe, bytes);
  const std::string base = s.exe.substr(0, s.exe.rfind('.'));
  if (!options.resource.empty()) copyFileOver(fixture(options.resource), base + ".res");
  if (options.withLibrary) copyFileOver(hostPath(ORV_LIB), s.folder + "orv.lib");
  return s;
}

SetupImage scriptImage(const std::vector<std::vector<std::string>>& lines) {
  SetupImage img = scriptLines(lines);
  img.productCode = "{6F1C2A10-0000-4000-8000-000000000001}";
  img.revisionCode = "{6F1C2A10-0000-4000-8000-000000000002}";
  img.version = "1.0";
  img.languageDialog = "FALSE";
  img.defaultLanguage = "English";
  img.componentSizes = {"ZORN-PREDEF-COMPONENT", "0"};
  return img;
}

std::vector<std::string> readTrace(const std::string& path) {
  std::string bytes;
  std::vector<std::string> lines;
  if (!readWholeFile(path, bytes)) return lines;
  std::wstring w(bytes.size() / 2, L'\0');
  memcpy(w.data(), bytes.data(), w.size() * 2);
  size_t start = 0;
  for (;;) {
    const size_t end = w.find(L"\r\n", start);
    if (end == std::wstring::npos) break;
    lines.push_back(narrow(w.substr(start, end - start)));
    start = end + 2;
  }
  return lines;
}

namespace {
// The current environment with TEMP and TMP replaced.
std::wstring environmentWithTemp(const std::string& temp) {
  std::wstring block;
  LPWCH env = GetEnvironmentStringsW();
  for (LPWCH p = env; *p; p += wcslen(p) + 1) {
    if (_wcsnicmp(p, L"TEMP=", 5) == 0 || _wcsnicmp(p, L"TMP=", 4) == 0) continue;
    block += p;
    block += L'\0';
  }
  FreeEnvironmentStringsW(env);
  std::wstring t = widen(temp);
  if (!t.empty() && t.back() == L'\\') t.pop_back();
  block += L"TEMP=" + t + L'\0';
  block += L"TMP=" + t + L'\0';
  block += L'\0';
  return block;
}
}  // namespace

RunResult runSetup(const SetupFolder& setup, const std::string& arguments, RunOptions options) {
  RunResult r;
  if (options.tempFolder.empty()) options.tempFolder = freshFolder("temp");
  std::wstring env = environmentWithTemp(options.tempFolder);
  const uint32_t timeoutMs = options.timeoutMs;
  const std::string& tracePath = options.tracePath;
  std::wstring cmd = L"\"" + widen(setup.exe) + L"\"";
  if (!arguments.empty()) cmd += L" " + widen(arguments);
  STARTUPINFOW si{sizeof(si)};
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, env.data(),
                      widen(setup.folder).c_str(), &si, &pi))
    throw std::runtime_error("cannot start the setup");
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_TIMEOUT) {
    r.timedOut = true;
    TerminateProcess(pi.hProcess, 999);
    WaitForSingleObject(pi.hProcess, 5000);
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  r.exitCode = code;
  if (!tracePath.empty()) r.trace = readTrace(tracePath);
  return r;
}

namespace {
struct BoxSearch {
  std::wstring caption;
  HWND found = nullptr;
};
BOOL CALLBACK findBox(HWND hwnd, LPARAM lp) {
  auto* search = reinterpret_cast<BoxSearch*>(lp);
  wchar_t cls[64], title[256];
  GetClassNameW(hwnd, cls, 64);
  GetWindowTextW(hwnd, title, 256);
  if (wcscmp(cls, L"#32770") == 0 && search->caption == title && IsWindowVisible(hwnd)) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}
BOOL CALLBACK collectText(HWND child, LPARAM lp) {
  wchar_t cls[64], text[1024];
  GetClassNameW(child, cls, 64);
  if (_wcsicmp(cls, L"Static") == 0 && GetWindowTextW(child, text, 1024) > 0) {
    auto* out = reinterpret_cast<std::wstring*>(lp);
    if (!out->empty()) *out += L"\n";
    *out += text;
  }
  return TRUE;
}
}  // namespace

std::string dismissMessageBox(const std::string& caption, uint32_t waitMs) {
  BoxSearch search{widen(caption)};
  const DWORD until = GetTickCount() + waitMs;
  while (!search.found && GetTickCount() < until) {
    EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
    if (!search.found) Sleep(100);
  }
  if (!search.found) return {};
  std::wstring text;
  EnumChildWindows(search.found, collectText, reinterpret_cast<LPARAM>(&text));
  PostMessageW(search.found, WM_COMMAND, IDOK, 0);
  return narrow(text);
}

}  // namespace orv::test
