#include "core/commandline.h"

#include "core/text.h"

#include <algorithm>

namespace orv {

std::string rawCommandLine(std::string_view cmd) {
  if (!cmd.empty() && cmd.front() == '"') {
    cmd.remove_prefix(1);
    const size_t quote = cmd.find('"');
    if (quote == std::string_view::npos) return {};
    cmd.remove_prefix(std::min(cmd.size(), quote + 2));  // the quote and one further character
    return std::string(cmd);
  }
  const size_t blank = cmd.find(' ');
  return blank == std::string_view::npos ? std::string() : std::string(cmd.substr(blank + 1));
}

bool isSwitch(std::string_view arg, std::string_view name) {
  return arg.size() > 1 && (arg[0] == '/' || arg[0] == '-') && equalsNoCase(arg.substr(1), name);
}

namespace {

bool anySwitch(const std::vector<std::string>& args, std::string_view name) {
  for (const auto& a : args)
    if (isSwitch(a, name)) return true;
  return false;
}

// The first argument whose lower-case form contains the prefix anywhere gives the value: that lower-case
// argument without its first three characters.
bool valuedSwitch(const std::vector<std::string>& args, std::string_view prefix, std::string& value,
                  std::string_view alternative = {}) {
  for (const auto& a : args) {
    const std::string low = lower(a);
    const bool hit = low.find(prefix) != std::string::npos ||
                     (!alternative.empty() && low.find(alternative) != std::string::npos);
    if (!hit) continue;
    const std::u32string chars = toUtf32(low);
    value = chars.size() > 3 ? fromUtf32(std::u32string_view(chars).substr(3)) : std::string();
    return true;
  }
  return false;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  cl.silent = anySwitch(args, "s") || anySwitch(args, "qn");
  cl.noSplash = anySwitch(args, "update") || anySwitch(args, "updatesetup");
  valuedSwitch(args, "/g=", cl.policyPath);
  valuedSwitch(args, "/m=", cl.selfExtractorPath);
  valuedSwitch(args, "/l=", cl.logPath, "-l=");
  valuedSwitch(args, "/p=", cl.cacheOverride, "-p=");
  for (const auto& a : args) {
    if (a.empty() || a[0] == '/' || a[0] == '-') continue;
    const size_t eq = a.find('=');
    if (eq == std::string::npos) continue;
    cl.assignments.emplace_back(upper(a.substr(0, eq)), a.substr(eq + 1));
  }
  return cl;
}

}  // namespace orv
