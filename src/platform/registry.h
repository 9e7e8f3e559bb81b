// Registry access with an explicit view. The engine behaves as a 32-bit program on 64-bit Windows, so
// the 32-bit view is the default; the 64-bit view is asked for by name.
#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handles.h"

namespace orv {

enum class RegistryView { Bits32, Bits64 };

// A value as stored: its type and its raw bytes (strings as UTF-16 with their terminator).
struct RegistryValue {
  DWORD type = REG_NONE;
  std::string bytes;
};

class RegistryError : public std::runtime_error {
 public:
  RegistryError(const std::string& what, LONG code) : std::runtime_error(what), code_(code) {}
  LONG code() const { return code_; }

 private:
  LONG code_;
};

class RegistryKey {
 public:
  static RegistryKey create(HKEY root, const std::string& path, RegistryView view = RegistryView::Bits32);
  static std::optional<RegistryKey> open(HKEY root, const std::string& path, REGSAM access = KEY_READ,
                                         RegistryView view = RegistryView::Bits32);
  static bool exists(HKEY root, const std::string& path, RegistryView view = RegistryView::Bits32);

  HKEY get() const { return key_.get(); }
  void setString(const std::string& name, const std::string& value, DWORD type = REG_SZ);
  void setDword(const std::string& name, uint32_t value);
  std::optional<std::string> getString(const std::string& name) const;
  std::optional<uint32_t> getDword(const std::string& name) const;
  bool deleteValue(const std::string& name);

  // The same operations reporting the system's error code instead of throwing, for callers that let the
  // user decide what a failure means.
  static std::optional<RegistryKey> tryCreate(HKEY root, const std::string& path, RegistryView view, LONG& error,
                                              REGSAM access = KEY_READ | KEY_WRITE);
  static std::optional<RegistryKey> tryOpen(HKEY root, const std::string& path, REGSAM access, RegistryView view,
                                            LONG& error);
  LONG writeValue(const std::string& name, DWORD type, std::string_view bytes);
  LONG writeString(const std::string& name, const std::string& value, DWORD type = REG_SZ);
  LONG writeDword(const std::string& name, uint32_t value);
  LONG writeMultiString(const std::string& name, const std::vector<std::string>& strings);
  std::optional<RegistryValue> readValue(const std::string& name) const;
  // The strings of a REG_MULTI_SZ value (empty strings inside the list are kept); null for another type.
  std::optional<std::vector<std::string>> getMultiString(const std::string& name) const;
  bool hasValue(const std::string& name) const;
  // Deletes a value; a value that does not exist counts as deleted.
  LONG removeValue(const std::string& name);
  std::vector<std::string> subkeyNames() const;
  std::vector<std::string> valueNames() const;  // the default value appears as the empty name
  // No subkeys and no values (a set default value counts as a value).
  bool isEmpty() const;

  // Deletes one key that has no subkeys, in the given view; a key that does not exist counts as deleted.
  static LONG deleteKey(HKEY root, const std::string& path, RegistryView view);
  // Deletes a key with everything below it (for clean-ups); true when it is gone.
  static bool deleteTree(HKEY root, const std::string& path, RegistryView view);

  static REGSAM viewFlag(RegistryView view) { return view == RegistryView::Bits64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

 private:
  explicit RegistryKey(HKEY key) : key_(key) {}
  UniqueRegKey key_;
};

}  // namespace orv
