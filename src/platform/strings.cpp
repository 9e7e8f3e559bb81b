#include "platform/strings.h"

#include <windows.h>

#include "core/codepage.h"

namespace orv {

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string fromCodePage(std::string_view bytes, unsigned codePage) {
  if (bytes.empty()) return {};
  const int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return portableCodePages().toUtf8(bytes, codePage);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), w.data(), n);
  return narrow(w);
}

std::string toCodePage(std::string_view utf8, unsigned codePage) {
  if (utf8.empty()) return {};
  const std::wstring w = widen(utf8);
  const int n = WideCharToMultiByte(codePage, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return portableCodePages().fromUtf8(utf8, codePage);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
  return out;
}

namespace {
class SystemCodePages final : public CodePageConverter {
 public:
  std::string toUtf8(std::string_view bytes, unsigned cp) const override { return fromCodePage(bytes, cp); }
  std::string fromUtf8(std::string_view text, unsigned cp) const override { return toCodePage(text, cp); }
};
const SystemCodePages kSystem;
}  // namespace

void installSystemCodePages() { installCodePageConverter(&kSystem); }

}  // namespace orv
