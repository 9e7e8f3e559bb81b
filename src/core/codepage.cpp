#include "core/codepage.h"

#include "core/text.h"

namespace orv {
namespace {

// Windows-1252 positions 0x80..0x9F; 0 marks the five undefined positions (kept as C1 controls, as the
// system converter does).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

char32_t cp1252ToUnicode(unsigned char b) {
  if (b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80] != 0) return kCp1252High[b - 0x80];
  return b;
}

int unicodeToCp1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == c) return 0x80 + i;
  if (c >= 0x80 && c < 0xA0) {  // the undefined positions map to themselves
    const int i = static_cast<int>(c) - 0x80;
    if (kCp1252High[i] == 0) return static_cast<int>(c);
  }
  return -1;
}

class PortableConverter final : public CodePageConverter {
 public:
  std::string toUtf8(std::string_view bytes, unsigned cp) const override {
    if (cp == 65001) {
      std::string out;  // re-encode so malformed input cannot pass through
      for (size_t i = 0; i < bytes.size();) appendUtf8(out, decodeUtf8(bytes, i));
      return out;
    }
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes) {
      char32_t c = b;
      if (cp == 20127) c = b < 0x80 ? b : U'?';
      else if (cp != 28591) c = cp1252ToUnicode(b);
      appendUtf8(out, c);
    }
    return out;
  }

  std::string fromUtf8(std::string_view text, unsigned cp) const override {
    if (cp == 65001) return toUtf8(text, 65001);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
      const char32_t c = decodeUtf8(text, i);
      int b = -1;
      if (cp == 20127) b = c < 0x80 ? static_cast<int>(c) : -1;
      else if (cp == 28591) b = c <= 0xFF ? static_cast<int>(c) : -1;
      else b = unicodeToCp1252(c);
      out += static_cast<char>(b < 0 ? '?' : b);
    }
    return out;
  }
};

const PortableConverter kPortable;
const CodePageConverter* gConverter = &kPortable;

}  // namespace

const CodePageConverter& portableCodePages() { return kPortable; }
const CodePageConverter& codePages() { return *gConverter; }
void installCodePageConverter(const CodePageConverter* converter) { gConverter = converter ? converter : &kPortable; }

}  // namespace orv
