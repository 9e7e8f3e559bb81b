#include "core/design/design_strings.h"

#include "core/text.h"

namespace orv::design {
namespace {

char16_t unitAt(std::string_view units, size_t i) {
  return char16_t(uint8_t(units[2 * i]) | (uint8_t(units[2 * i + 1]) << 8));
}
bool isHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void appendUnit(std::string& out, char16_t u) {
  out.push_back(char(u & 0xFF));
  out.push_back(char(u >> 8));
}

}  // namespace

std::string utf16ToUtf8(std::string_view units) {
  const size_t count = units.size() / 2;
  std::string out;
  out.reserve(units.size());
  for (size_t i = 0; i < count; ++i) {
    const char16_t u = unitAt(units, i);
    if (isHigh(u) && i + 1 < count && isLow(unitAt(units, i + 1))) {
      appendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (unitAt(units, i + 1) - 0xDC00));
      ++i;
    } else {
      appendUtf8(out, isHigh(u) || isLow(u) ? U'\uFFFD' : char32_t(u));
    }
  }
  return out;
}

std::string utf8ToUtf16(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (size_t i = 0; i < text.size();) {
    const char32_t c = decodeUtf8(text, i);
    if (c >= 0x10000) {
      appendUnit(out, char16_t(0xD800 + ((c - 0x10000) >> 10)));
      appendUnit(out, char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      appendUnit(out, char16_t(c));
    }
  }
  return out;
}

bool isValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t at = i;
    const char32_t c = decodeUtf8(text, i);
    if (c == U'\uFFFD' && text.substr(at, i - at) != "\xEF\xBF\xBD") return false;
  }
  return true;
}

}  // namespace orv::design
