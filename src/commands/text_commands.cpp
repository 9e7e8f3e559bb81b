// The string and variable commands: they create, change and take apart variable values, run at once
// and report only through the variables they write. The text work itself is platform-free
// (core/textops.h); what needs the system (environment, temporary files, short and long path forms,
// locale case mapping) is done here through the wide API.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bootstrap/engine.h"
#include "core/text.h"
#include "core/textops.h"
#include "platform/strings.h"
#include "script/commands.h"
#include "script/run_hooks.h"

namespace orv {
namespace {

constexpr std::string_view kKeepMarker = "$ZORN$ZORN$";

bool flag(const CommandContext& line, size_t n) { return isTrueText(line.param(n)); }

// Defines the variable a name parameter names (dollar signs stripped, upper-cased) with a value.
void defineNamed(const CommandContext& line, std::string_view nameParam, std::string_view value) {
  line.engine().vars.defineVariable(upper(CommandContext::variableName(nameParam)), value, line.reason());
}

// Win32 calls that fill a caller's buffer and answer the size they need.
template <typename Fill>
std::wstring filledBuffer(Fill fill) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD needed = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (needed == 0) return {};
    if (needed < buffer.size()) {
      buffer.resize(needed);
      return buffer;
    }
    buffer.assign(needed + 1, L'\0');
  }
  return {};
}

// Percent-enclosed environment references expanded by the system.
std::string expandEnvironment(std::string_view text) {
  const std::wstring wide = widen(text);
  // ExpandEnvironmentStrings counts the terminating zero in its answer.
  std::wstring expanded = filledBuffer([&](wchar_t* buffer, DWORD size) {
    const DWORD n = ExpandEnvironmentStringsW(wide.c_str(), buffer, size);
    return n == 0 ? 0 : (n <= size ? n - 1 : n);
  });
  return narrow(expanded);
}

struct EnvironmentBlockFree {
  void operator()(wchar_t* block) const {
    if (block) FreeEnvironmentStringsW(block);
  }
};

// The process environment's NAME=value entries in order, joined by "$NEWLINE$".
std::string environmentBlock() {
  const std::unique_ptr<wchar_t, EnvironmentBlockFree> block(GetEnvironmentStringsW());
  std::string joined;
  for (const wchar_t* entry = block.get(); entry && *entry; entry += wcslen(entry) + 1) {
    if (!joined.empty()) joined += "$NEWLINE$";
    joined += narrow(entry);
  }
  return joined;
}

// The system's locale-aware case mapping of the user's locale.
std::string mapCase(std::string_view text, bool toUpper) {
  if (text.empty()) return {};
  const std::wstring wide = widen(text);
  const DWORD mapping = (toUpper ? LCMAP_UPPERCASE : LCMAP_LOWERCASE) | LCMAP_LINGUISTIC_CASING;
  const int size = LCMapStringW(LOCALE_USER_DEFAULT, mapping, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0);
  if (size <= 0) return toUpper ? upper(text) : lower(text);
  std::wstring mapped(static_cast<size_t>(size), L'\0');
  LCMapStringW(LOCALE_USER_DEFAULT, mapping, wide.c_str(), static_cast<int>(wide.size()), mapped.data(), size);
  return narrow(mapped);
}

std::wstring fullPath(const std::wstring& path) {
  return filledBuffer([&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(path.c_str(), size, buffer, nullptr); });
}

std::wstring shortPath(const std::wstring& path) {
  return filledBuffer([&](wchar_t* buffer, DWORD size) { return GetShortPathNameW(path.c_str(), buffer, size); });
}

// The long form: below the drive or share, each component replaced by the name the file system
// reports for it, walking from the root down. A component the system does not answer for stays as
// written.
std::wstring longPath(const std::wstring& path) {
  const std::string root = withTrailingBackslash(driveOf(narrow(path)));
  std::wstring result = widen(root);
  std::wstring rest = path.substr(std::min(result.size(), path.size()));
  size_t start = 0;
  while (start < rest.size()) {
    size_t end = rest.find(L'\\', start);
    if (end == std::wstring::npos) end = rest.size();
    std::wstring component = rest.substr(start, end - start);
    if (!component.empty() && component.find_first_of(L"*?") == std::wstring::npos) {
      WIN32_FIND_DATAW found;
      const HANDLE find = FindFirstFileW((result + component).c_str(), &found);
      if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
        component = found.cFileName;
      }
    }
    result += component;
    if (end < rest.size()) result += L'\\';
    start = end + 1;
  }
  return result;
}

// ---- Set Variable ----

void rememberForMaintenance(Engine& engine, const std::string& name) {
  auto& names = engine.persistentVariables;
  const bool known = std::any_of(names.begin(), names.end(), [&](const std::string& n) { return equalsNoCase(n, name); });
  if (!known) names.push_back(name);
}

// Names whose value the engine follows at once when the script sets them.
void applyEngineSetting(CommandContext& line, std::string_view name, std::string_view value) {
  Engine& e = line.engine();
  if (equalsNoCase(name, "ABORT")) {
    e.vars.updateVariable("ZORN_IsCancelled", value, line.reason());  // requests or withdraws a cancel
  } else if (equalsNoCase(name, "ZORN_TIMEOUT")) {
    e.downloadTimeoutSeconds = toInt32(value).value_or(10);
  } else if (equalsNoCase(name, "PROGRESS") || equalsNoCase(name, "PROGRESSTEXT")) {
    refreshProgressDisplay(e, e.vars.getValue("PROGRESSTEXT"), toInt64Or(e.vars.getValue("PROGRESS"), 0));
  }
}

void setVariable(CommandContext& line) {
  Engine& e = line.engine();
  const std::string value = e.vars.expand(line.localized(2, 1));
  std::string_view nameParam = line.param(1);
  bool keep = false;
  if (const size_t marker = nameParam.find(kKeepMarker); marker != std::string_view::npos) {
    keep = nameParam.substr(marker + kKeepMarker.size()) == "TRUE";
    nameParam = nameParam.substr(0, marker);
  }
  const std::string name = CommandContext::variableName(nameParam);
  line.defineIfMissing(name);
  std::string stored = value;
  if (equalsNoCase(name, "NATIVE_LOGGING") && value != e.vars.getValue(name)) stored = nativeLoggingChanging(e, value);
  e.vars.updateVariable(name, stored, line.reason());
  if (keep && !name.empty()) rememberForMaintenance(e, name);
  applyEngineSetting(line, name, stored);
}

// ---- Environment and temporary files ----

void getEnvironment(CommandContext& line) {
  const std::string name = line.expanded(1);
  defineNamed(line, line.param(2), name.empty() ? environmentBlock() : expandEnvironment("%" + name + "%"));
}

// An empty result when the system cannot create the file (TEMPDIR missing or not writable).
void getTemporaryFile(CommandContext& line) {
  const std::wstring folder = widen(line.engine().vars.getValue("TEMPDIR"));
  wchar_t created[MAX_PATH + 1] = {};
  const bool made = !folder.empty() && GetTempFileNameW(folder.c_str(), L"orv", 0, created) != 0;
  defineNamed(line, line.param(1), made ? narrow(created) : std::string());
}

// ---- Values taken apart and rebuilt ----

void replaceString(CommandContext& line) {
  VariableStore& vars = line.engine().vars;
  const std::string name = CommandContext::variableName(line.param(1));
  const std::string result =
      replaceStringValue(vars.getValue(name), line.expanded(2), line.expanded(3), flag(line, 4), flag(line, 5));
  defineNamed(line, name, result);
}

// The value of the variable named literally by param(1), as a normalized path text.
std::string normalizedValue(const CommandContext& line) {
  const VariableStore& vars = line.engine().vars;
  return vars.expandPath(vars.getValue(line.param(1)));
}

void writeBack(const CommandContext& line, std::string_view value) {
  line.engine().vars.updateVariable(line.param(1), value, line.reason());
}

void convertCase(CommandContext& line) { writeBack(line, mapCase(normalizedValue(line), flag(line, 2))); }

void convertPath(CommandContext& line) {
  const VariableStore& vars = line.engine().vars;
  std::string path = normalizedValue(line);
  if (std::string expanded = expandEnvironment(path); !expanded.empty()) path = std::move(expanded);
  if (!hasDriveOrShare(path)) path = withTrailingBackslash(vars.expandPath(vars.getValue("SETUPPATH"))) + path;
  const std::wstring absolute = fullPath(widen(path));
  std::string result;
  if (!absolute.empty() && GetFileAttributesW(absolute.c_str()) != INVALID_FILE_ATTRIBUTES)
    result = narrow(flag(line, 2) ? shortPath(absolute) : longPath(absolute));
  writeBack(line, result);
}

void extractPath(CommandContext& line) {
  const std::string path = normalizedValue(line);
  writeBack(line, extractPathPart(path, toInt32OrThrow(line.param(2))));
}

void parseStringCommand(CommandContext& line) {
  const std::string_view beforeName = line.param(3), afterName = line.param(4);
  line.defineIfMissing(beforeName);
  line.defineIfMissing(afterName);
  const ParsedParts parts =
      parseString(line.path(1), line.path(2), toInt32OrThrow(line.param(5)), flag(line, 6), flag(line, 7));
  VariableStore& vars = line.engine().vars;
  if (!beforeName.empty()) vars.defineVariable(upper(beforeName), parts.before, line.reason());
  if (!afterName.empty()) vars.defineVariable(upper(afterName), parts.after, line.reason());
}

// Editor structure in the authoring tool; nothing to do at run time.
void doNothing(CommandContext&) {}

const CommandEntry kTextCommands[] = {
    {"Set Variable", setVariable},
    {"Get Environment", getEnvironment},
    {"Get Temporary File", getTemporaryFile},
    {"Replace String", replaceString},
    {"Convert Case", convertCase},
    {"Convert Path", convertPath},
    {"Extract Path", extractPath},
    {"Parse String", parseStringCommand},
    {"Code Folding Region", doNothing},
};

}  // namespace

std::span<const CommandEntry> textCommands() { return kTextCommands; }

}  // namespace orv
