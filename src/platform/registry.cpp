#include "platform/registry.h"

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
