#include "platform/registry.h"

#include <cstring>
#include <vector>

#include "platform/strings.h"

namespace orv {

RegistryKey RegistryKey::create(HKEY root, const std::string& path, RegistryView view) {
  HKEY key = nullptr;
  const LONG rc = RegCreateKeyExW(root, widen(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_READ | KEY_WRITE | viewFlag(view), nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) throw RegistryError("Cannot create the registry key " + path, rc);
  return RegistryKey(key);
}

std::optional<RegistryKey> RegistryKey::open(HKEY root, const std::string& path, REGSAM access, RegistryView view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, widen(path).c_str(), 0, access | viewFlag(view), &key) != ERROR_SUCCESS) return std::nullopt;
  return RegistryKey(key);
}

bool RegistryKey::exists(HKEY root, const std::string& path, RegistryView view) {
  return open(root, path, KEY_READ, view).has_value();
}

void RegistryKey::setString(const std::string& name, const std::string& value, DWORD type) {
  const std::wstring w = widen(value);
  const LONG rc = RegSetValueExW(key_.get(), widen(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(w.c_str()),
                                 static_cast<DWORD>((w.size() + 1) * sizeof(wchar_t)));
  if (rc != ERROR_SUCCESS) throw RegistryError("Cannot write the registry value " + name, rc);
}

void RegistryKey::setDword(const std::string& name, uint32_t value) {
  const DWORD v = value;
  const LONG rc = RegSetValueExW(key_.get(), widen(name).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v),
                                 sizeof(v));
  if (rc != ERROR_SUCCESS) throw RegistryError("Cannot write the registry value " + name, rc);
}

std::optional<std::string> RegistryKey::getString(const std::string& name) const {
  const std::wstring wname = widen(name);
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key_.get(), wname.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
  std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key_.get(), wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return narrow(std::wstring(buf.data()));
}

std::optional<uint32_t> RegistryKey::getDword(const std::string& name) const {
  DWORD type = 0, v = 0, size = sizeof(v);
  if (RegQueryValueExW(key_.get(), widen(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&v), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD)
    return std::nullopt;
  return v;
}

bool RegistryKey::deleteValue(const std::string& name) {
  return RegDeleteValueW(key_.get(), widen(name).c_str()) == ERROR_SUCCESS;
}

}  // namespace orv

namespace orv {
namespace {

std::string utf16Bytes(const std::wstring& w) {
  return std::string(reinterpret_cast<const char*>(w.c_str()), (w.size() + 1) * sizeof(wchar_t));
}

using RegDeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

// Present from Windows XP x64 on; older systems have one view only.
RegDeleteKeyExFn regDeleteKeyEx() {
  static const auto fn = reinterpret_cast<RegDeleteKeyExFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
  return fn;
}

bool notFound(LONG rc) { return rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND; }

}  // namespace

std::optional<RegistryKey> RegistryKey::tryCreate(HKEY root, const std::string& path, RegistryView view, LONG& error,
                                                  REGSAM access) {
  HKEY key = nullptr;
  error = RegCreateKeyExW(root, widen(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access | viewFlag(view),
                          nullptr, &key, nullptr);
  if (error != ERROR_SUCCESS) return std::nullopt;
  return RegistryKey(key);
}

std::optional<RegistryKey> RegistryKey::tryOpen(HKEY root, const std::string& path, REGSAM access, RegistryView view,
                                                LONG& error) {
  HKEY key = nullptr;
  error = RegOpenKeyExW(root, widen(path).c_str(), 0, access | viewFlag(view), &key);
  if (error != ERROR_SUCCESS) return std::nullopt;
  return RegistryKey(key);
}

LONG RegistryKey::writeValue(const std::string& name, DWORD type, std::string_view bytes) {
  return RegSetValueExW(key_.get(), widen(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
}

LONG RegistryKey::writeString(const std::string& name, const std::string& value, DWORD type) {
  return writeValue(name, type, utf16Bytes(widen(value)));
}

LONG RegistryKey::writeDword(const std::string& name, uint32_t value) {
  const DWORD v = value;
  return writeValue(name, REG_DWORD, std::string_view(reinterpret_cast<const char*>(&v), sizeof(v)));
}

LONG RegistryKey::writeMultiString(const std::string& name, const std::vector<std::string>& strings) {
  std::wstring block;
  for (const std::string& s : strings) {
    block += widen(s);
    block += L'\0';
  }
  block += L'\0';
  return writeValue(name, REG_MULTI_SZ,
                    std::string_view(reinterpret_cast<const char*>(block.data()), block.size() * sizeof(wchar_t)));
}

std::optional<RegistryValue> RegistryKey::readValue(const std::string& name) const {
  const std::wstring wname = widen(name);
  RegistryValue value;
  DWORD size = 0;
  if (RegQueryValueExW(key_.get(), wname.c_str(), nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  for (int attempt = 0; attempt < 8; ++attempt) {  // the value may grow between the two calls
    value.bytes.assign(size, '\0');
    const LONG rc = RegQueryValueExW(key_.get(), wname.c_str(), nullptr, &value.type,
                                     reinterpret_cast<BYTE*>(value.bytes.data()), &size);
    if (rc == ERROR_SUCCESS) {
      value.bytes.resize(size);
      return value;
    }
    if (rc != ERROR_MORE_DATA) return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> RegistryKey::getMultiString(const std::string& name) const {
  const std::optional<RegistryValue> value = readValue(name);
  if (!value || value->type != REG_MULTI_SZ) return std::nullopt;
  std::wstring block(value->bytes.size() / sizeof(wchar_t), L'\0');
  memcpy(block.data(), value->bytes.data(), block.size() * sizeof(wchar_t));
  // Drop the list's terminator and the last string's (either may be missing in a value written carelessly).
  if (block.size() >= 2 && block[block.size() - 1] == L'\0' && block[block.size() - 2] == L'\0') block.pop_back();
  if (!block.empty() && block.back() == L'\0') block.pop_back();
  std::vector<std::string> strings;
  if (block.empty()) return strings;
  size_t start = 0;
  for (;;) {
    const size_t end = block.find(L'\0', start);
    strings.push_back(narrow(std::wstring_view(block).substr(start, end - start)));
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  return strings;
}

bool RegistryKey::hasValue(const std::string& name) const {
  return RegQueryValueExW(key_.get(), widen(name).c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

LONG RegistryKey::removeValue(const std::string& name) {
  const LONG rc = RegDeleteValueW(key_.get(), widen(name).c_str());
  return notFound(rc) ? ERROR_SUCCESS : rc;
}

std::vector<std::string> RegistryKey::subkeyNames() const {
  std::vector<std::string> names;
  std::vector<wchar_t> buf(256);
  for (DWORD i = 0;; ++i) {
    DWORD size = static_cast<DWORD>(buf.size());
    const LONG rc = RegEnumKeyExW(key_.get(), i, buf.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) break;  // key names are at most 255 characters
    names.push_back(narrow(std::wstring_view(buf.data(), size)));
  }
  return names;
}

std::vector<std::string> RegistryKey::valueNames() const {
  std::vector<std::string> names;
  std::vector<wchar_t> buf(16384);  // the longest value name the registry allows, plus one
  for (DWORD i = 0;; ++i) {
    DWORD size = static_cast<DWORD>(buf.size());
    const LONG rc = RegEnumValueW(key_.get(), i, buf.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) break;
    names.push_back(narrow(std::wstring_view(buf.data(), size)));
  }
  return names;
}

bool RegistryKey::isEmpty() const {
  DWORD subkeys = 0, values = 0;
  if (RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  return subkeys == 0 && values == 0;
}

LONG RegistryKey::deleteKey(HKEY root, const std::string& path, RegistryView view) {
  const std::wstring w = widen(path);
  const LONG rc = regDeleteKeyEx() ? regDeleteKeyEx()(root, w.c_str(), viewFlag(view), 0) : RegDeleteKeyW(root, w.c_str());
  return notFound(rc) ? ERROR_SUCCESS : rc;
}

bool RegistryKey::deleteTree(HKEY root, const std::string& path, RegistryView view) {
  if (std::optional<RegistryKey> key = open(root, path, KEY_READ, view)) {
    for (const std::string& sub : key->subkeyNames()) deleteTree(root, path + "\\" + sub, view);
  }
  deleteKey(root, path, view);
  return !exists(root, path, view);
}

}  // namespace orv
