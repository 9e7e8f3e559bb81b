#include "core/archive/entry_path.h"

#include <algorithm>
#include <vector>

#include "core/text.h"

namespace orv::archive {

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// Characters a Windows file name cannot hold, or that would change what a path means.
bool hasForbiddenCharacter(std::string_view part) {
  return std::any_of(part.begin(), part.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|';
  });
}

// Windows drops trailing dots and spaces, so "..." or ". ." would act as a parent or current folder.
bool isOnlyDotsAndSpaces(std::string_view part) {
  return std::all_of(part.begin(), part.end(), [](char c) { return c == '.' || c == ' '; });
}

// Device names open the device rather than a file, in any folder and with any extension.
bool isDeviceName(std::string_view part) {
  std::string base = upper(part.substr(0, part.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static constexpr std::string_view kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  if (std::find(std::begin(kDevices), std::end(kDevices), base) != std::end(kDevices)) return true;
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '0' && base[3] <= '9';
}

}  // namespace

std::string withBackslashes(std::string_view entryName) {
  std::string out(entryName);
  std::replace(out.begin(), out.end(), '/', '\\');
  return out;
}

std::optional<std::string> safeRelativePath(std::string_view name) {
  if (name.empty() || isSeparator(name.front())) return std::nullopt;  // rooted, UNC, "\\?\"
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !isSeparator(name[end])) ++end;
    const std::string_view part = name.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
      continue;
    }
    if (hasForbiddenCharacter(part) || isOnlyDotsAndSpaces(part) || isDeviceName(part)) return std::nullopt;
    parts.push_back(part);
  }
  if (parts.empty()) return std::nullopt;
  std::string out;
  for (const auto part : parts) {
    if (!out.empty()) out += '\\';
    out += part;
  }
  return out;
}

}  // namespace orv::archive
