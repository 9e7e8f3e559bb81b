// Registry-backed kinds: "Write Registry" (every type, both views), "Create File Type", "Set
// Environment", "Edit INI File", and their inverses.
#include <windows.h>

#include <vector>

#include "core/commatext.h"
#include "core/text.h"
#include "engines/native_kinds.h"
#include "engines/native_security.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace orv {
namespace {

constexpr DWORD kNotAnInteger = 1700;  // the error the engine has always reported for such data
constexpr DWORD kIniValueBufferChars = 266240;
constexpr std::string_view kUserEnvironment = "Environment";
constexpr std::string_view kMachineEnvironment = "System\\CurrentControlSet\\Control\\Session Manager\\Environment";

std::string field(const Fields& f, size_t i) { return i < f.size() ? f[i] : std::string(); }

bool parseRegistryInteger(std::string_view text, uint32_t& out) {
  int64_t v = 0;
  if (!parseInt64(text, v) || v < INT32_MIN || v > int64_t(UINT32_MAX)) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

bool parseHexBytes(std::string_view text, std::string& out) {
  std::string hex;
  for (char c : text)
    if (!isspace(static_cast<unsigned char>(c))) hex += c;
  if (hex.size() % 2) return false;
  out.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int v = 0;
    for (char c : {hex[i], hex[i + 1]}) {
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + d;
    }
    out += static_cast<char>(v);
  }
  return true;
}

// Writes one value by the action's type word.
DWORD writeTypedValue(RegistryKey& key, const std::string& name, const std::string& data, const std::string& type) {
  if (type == "INTEGER") {
    uint32_t v = 0;
    if (!parseRegistryInteger(data, v)) return kNotAnInteger;
    return static_cast<DWORD>(key.writeDword(name, v));
  }
  if (type == "EXPANDSTRING") return static_cast<DWORD>(key.writeString(name, data, REG_EXPAND_SZ));
  if (type == "APPEND" || type == "PREPEND") {
    std::vector<std::string> strings = key.getMultiString(name).value_or(std::vector<std::string>{});
    if (type == "APPEND") strings.push_back(data);
    else strings.insert(strings.begin(), data);
    return static_cast<DWORD>(key.writeMultiString(name, strings));
  }
  if (type == "BINARY") {
    std::string bytes;
    if (!parseHexBytes(data, bytes)) return ERROR_INVALID_DATA;
    return static_cast<DWORD>(key.writeValue(name, REG_BINARY, bytes));
  }
  return static_cast<DWORD>(key.writeString(name, data, REG_SZ));
}

void broadcastEnvironmentChange() {
  // A pointer cannot travel in an asynchronous broadcast (the system refuses it), so the message is
  // sent with a short time-out per window instead.
  DWORD_PTR result = 0;
  SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                      SMTO_ABORTIFHUNG, 1000, &result);
}

struct EnvironmentValue {
  bool exists = false;
  std::string value;
  DWORD type = REG_SZ;
};

EnvironmentValue readEnvironment(NativeJob& job, HKEY root, const std::string& key, const std::string& name) {
  EnvironmentValue v;
  const auto k = RegistryKey::open(root, key, KEY_READ, job.view());
  if (!k) return v;
  const std::optional<RegistryValue> raw = k->readValue(name);
  if (!raw) return v;
  v.exists = true;
  v.type = raw->type == REG_EXPAND_SZ ? REG_EXPAND_SZ : REG_SZ;
  v.value = k->getString(name).value_or("");
  return v;
}

DWORD writeEnvironment(NativeJob& job, HKEY root, const std::string& key, const std::string& name,
                       const std::string* value, DWORD type) {
  LONG error = 0;
  auto k = RegistryKey::tryCreate(root, key, job.view(), error);
  if (!k) return static_cast<DWORD>(error);
  return static_cast<DWORD>(value ? k->writeString(name, *value, type) : k->removeValue(name));
}

// The INI file's current value of a key ("" when missing).
std::string readIni(NativeJob& job, const std::string& file, const std::string& section, const std::string& key) {
  std::vector<wchar_t> buf(kIniValueBufferChars);
  const DWORD n = GetPrivateProfileStringW(widen(section).c_str(), widen(key).c_str(), L"", buf.data(),
                                           static_cast<DWORD>(buf.size()), widen(job.fsPath(file)).c_str());
  return narrow(std::wstring_view(buf.data(), n));
}

DWORD writeIni(NativeJob& job, const std::string& file, const std::string& section, const std::string& key,
               const std::string* value) {
  const std::wstring w = value ? widen(*value) : std::wstring();
  SetLastError(0);
  if (WritePrivateProfileStringW(widen(section).c_str(), widen(key).c_str(), value ? w.c_str() : nullptr,
                                 widen(job.fsPath(file)).c_str()))
    return 0;
  const DWORD e = GetLastError();
  return e ? e : ERROR_WRITE_FAULT;
}

// After the last key of a section went: the section goes too, and a file left without any section (one
// the product's entries brought into being) is deleted, so an undo leaves no empty shell behind.
void removeEmptySectionAndFile(NativeJob& job, const std::string& file, const std::string& section) {
  const std::wstring path = widen(job.fsPath(file)), wSection = widen(section);
  std::vector<wchar_t> buf(4096);
  if (GetPrivateProfileSectionW(wSection.c_str(), buf.data(), static_cast<DWORD>(buf.size()), path.c_str()) != 0) return;
  WritePrivateProfileStringW(wSection.c_str(), nullptr, nullptr, path.c_str());
  if (GetPrivateProfileSectionNamesW(buf.data(), static_cast<DWORD>(buf.size()), path.c_str()) != 0) return;
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());  // flush the system's cached copy
  std::string content;
  if (readWholeFile(narrow(path), content) && trim(content).empty()) DeleteFileW(path.c_str());
}

// Mode "4" of "Edit INI File": `current` without one entry `value` of its comma list. Null when the
// value is not in the list (nothing to do); an empty result means the key goes.
std::optional<std::string> withoutListEntry(const std::string& current, const std::string& value) {
  if (value.empty() || findNoCase(current, value) == std::string::npos) return std::nullopt;
  for (const std::string& form : {value + ", ", value + ",", ", " + value, "," + value}) {
    const size_t at = findNoCase(current, form);
    if (at != std::string::npos) return current.substr(0, at) + current.substr(at + form.size());
  }
  if (equalsNoCase(trim(current), value)) return std::string();
  return std::nullopt;
}

}  // namespace

bool writeRegistryKind(NativeJob& job, const Fields& f) {
  const bool permanent = isTrueText(field(f, 0));
  const HKEY root = rootOfCode(field(f, 1));
  const std::string rootName = rootNameOf(root), key = field(f, 2), name = field(f, 3), data = field(f, 4);
  const std::string type = upper(field(f, 5));
  const std::string subject = rootName + "\\" + key + "\\" + name + "\\" + data;
  if (!job.stepProgress(subject, 512)) return false;
  const bool recorded = !permanent && root && job.recordUndo("Write Registry", joinCommaText({handleTextOf(root), key, name}));
  SecurityHandle security = takeOverKeySecurity(job, root, key);
  const StepOutcome outcome = job.retry(subject, [&]() -> DWORD {
    if (!root) return ERROR_INVALID_PARAMETER;
    LONG error = 0;
    auto k = RegistryKey::tryCreate(root, key, job.view(), error);
    if (!k) return static_cast<DWORD>(error);
    return writeTypedValue(*k, name, data, type);
  });
  restoreSecurity(job, security);
  if (outcome != StepOutcome::Done) {
    if (recorded) job.withdrawLastUndo();
    return outcome == StepOutcome::Ignored;
  }
  job.trace("        < " + rootName + "\\" + key + "\\" + name + data + " >");
  return true;
}

bool createFileTypeKind(NativeJob& job, const Fields& f) {
  const std::string key = field(f, 0), application = field(f, 1), description = field(f, 2);
  const std::string iconFile = field(f, 3), iconIndex = field(f, 4);
  const std::string summary = key + ": " + description + "/" + application;
  if (!job.stepProgress(summary, 5120)) return false;
  auto write = [&job](const std::string& path, const std::string& value) {
    return job.runNested("Write Registry", {"FALSE", "0", path, "", value, "STRING"});
  };
  if (!write(key, description)) return false;
  if (!iconFile.empty() && !write(key + "\\DefaultIcon", iconIndex.empty() ? iconFile : iconFile + "," + iconIndex))
    return false;
  for (const std::string& extension : splitCommaText(field(f, 5)))
    if (!extension.empty() && !write(extension, key)) return false;
  for (const std::string& entry : splitCommaText(field(f, 6))) {
    const Fields verb = splitCommaText(entry);
    const std::string verbName = field(verb, 0);
    if (verbName.empty()) continue;
    const std::string shell = key + "\\Shell\\" + verbName;
    if (!write(shell + "\\Command", "\"" + application + "\" " + field(verb, 1))) return false;
    if (!field(verb, 2).empty()) {
      if (!write(shell + "\\ddeexec", field(verb, 2)) || !write(shell + "\\ddeexec\\application", field(verb, 3)) ||
          !write(shell + "\\ddeexec\\topic", field(verb, 4)))
        return false;
    }
  }
  job.trace("        < " + summary + " >");
  return true;
}

bool setEnvironmentKind(NativeJob& job, const Fields& f) {
  const std::string name = field(f, 0), own = field(f, 1), condition = field(f, 2), placement = field(f, 3);
  const bool record = isTrueText(field(f, 4)), system = isTrueText(field(f, 5));
  const HKEY root = system ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  const std::string key(system ? kMachineEnvironment : kUserEnvironment);
  const EnvironmentValue current = readEnvironment(job, root, key, name);
  if (condition == "1" && current.exists) return true;
  DWORD type = REG_SZ;
  std::string value = own;
  if (placement != "2" && current.exists) {
    type = current.type;
    if (placement == "1") value = current.value + own;
    else if (placement == "0") value = own + current.value;
  }
  const bool recorded = record && condition != "2" &&
                        job.recordUndo("Set Environment",
                                       joinCommaText({handleTextOf(root), key, name, own, type == REG_EXPAND_SZ ? "2" : "1",
                                                      boolText(placement == "2")}));
  const std::string subject = name + "=" + value;
  if (!job.stepProgress(subject, 1024)) {
    if (recorded) job.withdrawLastUndo();
    return false;
  }
  const StepOutcome outcome = job.retry(subject, [&]() -> DWORD {
    return writeEnvironment(job, root, key, name, condition == "2" ? nullptr : &value, type);
  });
  if (outcome != StepOutcome::Done) {
    if (recorded) job.withdrawLastUndo();
    return outcome == StepOutcome::Ignored;
  }
  job.trace("        < " + subject + " >");
  broadcastEnvironmentChange();
  return true;
}

bool editIniFileKind(NativeJob& job, const Fields& f) {
  const std::string file = field(f, 0), section = field(f, 1), key = field(f, 2), value = field(f, 3);
  const std::string mode = trim(field(f, 4));
  const bool recorded = mode != "2" && mode != "4" &&
                        job.recordUndo("Edit INI File", joinCommaText({file, section, key, mode == "3" ? value : ""}));
  const std::string current = readIni(job, file, section, key);
  std::string written = value;
  bool remove = mode == "2";
  if (mode == "1" && !current.empty()) {
    if (recorded) job.withdrawLastUndo();
    return true;
  }
  if (mode == "4") {
    const std::optional<std::string> rest = withoutListEntry(current, value);
    if (!rest) return true;
    written = *rest;
    remove = rest->empty();
  }
  if (mode == "3" && !current.empty()) written = value + ", " + current;
  const std::string subject = file + ": [" + section + "] " + key + "=" + value;
  if (!job.stepProgress(subject, 10240)) {
    if (recorded) job.withdrawLastUndo();
    return false;
  }
  const StepOutcome outcome =
      job.retry(subject, [&]() -> DWORD { return writeIni(job, file, section, key, remove ? nullptr : &written); });
  if (outcome != StepOutcome::Done) {
    if (recorded) job.withdrawLastUndo();
    return outcome == StepOutcome::Ignored;
  }
  job.trace("        < " + subject + " >");
  return true;
}

// ---- inverses ----

bool deleteRegistryInverse(NativeJob& job, const Fields& f, int64_t weight) {
  const HKEY root = rootOfHandleText(field(f, 0));
  const std::string rootName = rootNameOf(root), key = field(f, 1), name = field(f, 2);
  const std::string subject = rootName + "\\" + key + "\\" + name;
  if (root) {
    SecurityHandle security = takeOverKeySecurity(job, root, key);
    const StepOutcome outcome = job.retry(subject, [&]() -> DWORD {
      LONG error = 0;
      auto k = RegistryKey::tryOpen(root, key, KEY_READ | KEY_SET_VALUE, job.view(), error);
      if (!k) return error == ERROR_FILE_NOT_FOUND ? 0 : static_cast<DWORD>(error);
      return static_cast<DWORD>(k->removeValue(name));
    });
    restoreSecurity(job, security);
    if (outcome == StepOutcome::Aborted) return false;
    if (outcome == StepOutcome::Done) job.trace("          < " + rootName + "\\" + key + "\\" + name + " >");
    for (size_t i = 3; i < f.size(); ++i) {
      const std::string& level = f[i];
      if (const auto k = RegistryKey::open(root, level, KEY_READ, job.view()); k && !k->isEmpty()) break;
      SecurityHandle levelSecurity = takeOverKeySecurity(job, root, level);
      const StepOutcome removed = job.retry(rootName + "\\" + level, [&]() -> DWORD {
        return static_cast<DWORD>(RegistryKey::deleteKey(root, level, job.view()));
      });
      levelSecurity.reset();  // the key is gone (or the user went on without it)
      if (removed == StepOutcome::Aborted) return false;
      if (removed == StepOutcome::Done) job.trace("          < " + rootName + "\\" + level + " >");
    }
  }
  return job.stepProgress(subject, weight) && !job.aborted();
}

bool deleteEnvironmentInverse(NativeJob& job, const Fields& f, int64_t weight) {
  const HKEY root = rootOfHandleText(field(f, 0));
  const std::string key = field(f, 1), name = field(f, 2), value = field(f, 3);
  const DWORD type = field(f, 4) == "2" ? REG_EXPAND_SZ : REG_SZ;
  const bool replaced = isTrueText(field(f, 5));
  if (root && !name.empty()) {
    std::optional<std::string> next;  // null: delete the variable
    bool act = true;
    if (!replaced) {
      const EnvironmentValue current = readEnvironment(job, root, key, name);
      const size_t at = current.value.find(value);
      act = current.exists && !value.empty() && at != std::string::npos;
      if (act) next = current.value.substr(0, at) + current.value.substr(at + value.size());
      if (next && next->empty()) next.reset();  // nothing of its own left: the variable was ours alone
    }
    if (act) {
      const StepOutcome outcome = job.retry(name + "=" + value, [&]() -> DWORD {
        return writeEnvironment(job, root, key, name, next ? &*next : nullptr, type);
      });
      if (outcome == StepOutcome::Aborted) return false;
      if (outcome == StepOutcome::Done) {
        job.trace("          < " + name + "=" + next.value_or("") + " >");
        broadcastEnvironmentChange();
      }
    }
  }
  return job.stepProgress(name + "=" + value, weight) && !job.aborted();
}

bool removeIniEntryInverse(NativeJob& job, const Fields& f, int64_t weight) {
  const std::string file = field(f, 0), section = field(f, 1), key = field(f, 2), value = field(f, 3);
  const std::string subject = file + ": [" + section + "] " + key + "=" + value;
  std::optional<std::string> rest;  // what stays; null with `act`: delete the key
  bool act = true;
  if (!value.empty()) {
    rest = withoutListEntry(readIni(job, file, section, key), value);
    act = rest.has_value();
    if (rest && rest->empty()) rest.reset();
  }
  if (act && job.fileExists(file)) {
    const StepOutcome outcome =
        job.retry(subject, [&]() -> DWORD { return writeIni(job, file, section, key, rest ? &*rest : nullptr); });
    if (outcome == StepOutcome::Aborted) return false;
    if (outcome == StepOutcome::Done && !rest) removeEmptySectionAndFile(job, file, section);
  }
  return job.stepProgress(subject, weight) && !job.aborted();
}

}  // namespace orv
