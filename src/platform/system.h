// Facts about the running system.
#pragma once
#include <string>

namespace orv {

struct OsVersion {
  unsigned major = 0, minor = 0, build = 0;
  bool atLeast(unsigned ma, unsigned mi) const { return major > ma || (major == ma && minor >= mi); }
};
// The true version (not the manifest-dependent answer of GetVersionEx).
OsVersion osVersion();
bool is64BitWindows();
bool isAdministrator();
std::string moduleFileName();  // the running program's full path (UTF-8)
std::string tempFolder();      // with a trailing backslash

}  // namespace orv
