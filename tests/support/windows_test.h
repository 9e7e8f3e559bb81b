// Small helpers the Windows-side test programs share: Linux paths as Wine sees them, the built engine's
// folder, and running a program to its end.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/text.h"
#include "platform/handles.h"
#include "platform/strings.h"
#include "platform/system.h"

namespace orv::test {

// A Linux path given at build time or by ctest, as Wine sees it; other paths stay as they are.
inline std::string hostPath(std::string path) {
  if (path.empty() || path[0] != '/') return path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}

// The built engine program and archive library: where ctest says (ORV_BIN), or the build's src folder
// beside this test program's.
inline std::string builtProgramFolder() {
  if (const char* bin = std::getenv("ORV_BIN"); bin && *bin) return hostPath(bin) + "\\";
  return folderOf(moduleFileName()) + "..\\src\\";
}

// Runs a command line in a folder and waits for it: its exit code, 0xFFFFFFFF when it cannot start and
// 0xFFFFFFFE when it was ended after the timeout.
inline uint32_t runCommandIn(const std::string& commandLine, const std::string& folder, DWORD timeoutMs = 60000) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring line = widen(commandLine);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, widen(folder).c_str(), &si, &pi))
    return 0xFFFFFFFF;
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(pi.hProcess, 1);
    return 0xFFFFFFFE;
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  return code;
}

}  // namespace orv::test
