// The engine's command line: silent and splash switches, valued switches (/l=, /g=, /m=, /p=) and
// NAME=value assignments. Arguments are split by the platform's rules before they get here.
#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orv {

struct CommandLine {
  bool silent = false;    // switch "s" or "qn"
  bool noSplash = false;  // switch "update" or "updatesetup"
  std::string logPath;
  std::string policyPath;
  std::string selfExtractorPath;
  std::string cacheOverride;
  std::vector<std::pair<std::string, std::string>> assignments;  // upper-cased name, value as given
};

// The command line without the program name, cut from the process command line as the system gives it.
std::string rawCommandLine(std::string_view processCommandLine);

// `args` excludes the program itself.
CommandLine parseCommandLine(const std::vector<std::string>& args);

bool isSwitch(std::string_view arg, std::string_view name);

}  // namespace orv
