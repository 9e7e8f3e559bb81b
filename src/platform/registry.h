// Registry access with an explicit view. The engine behaves as a 32-bit program on 64-bit Windows, so
// the 32-bit view is the default; the 64-bit view is asked for by name.
#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/handles.h"

namespace orv {

enum class RegistryView { Bits32, Bits64 };

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

  static REGSAM viewFlag(RegistryView view) { return view == RegistryView::Bits64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

 private:
  explicit RegistryKey(HKEY key) : key_(key) {}
  UniqueRegKey key_;
};

}  // namespace orv
