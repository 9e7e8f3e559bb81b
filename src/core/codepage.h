// Conversion between texts stored in a Windows ANSI code page (the setup image, the archive library's
// narrow interface) and the engine's UTF-8. The Windows build installs the system's converter; the
// portable fallback knows 1252, 28591 (Latin-1), 20127 (ASCII) and 65001 (UTF-8) and reads any other
// code page as 1252.
#pragma once
#include <string>
#include <string_view>

namespace orv {

struct CodePageConverter {
  virtual ~CodePageConverter() = default;
  virtual std::string toUtf8(std::string_view bytes, unsigned codePage) const = 0;
  // Characters the code page cannot show become '?'.
  virtual std::string fromUtf8(std::string_view text, unsigned codePage) const = 0;
};

// The converter in force (the portable one unless the platform installed its own).
const CodePageConverter& codePages();
void installCodePageConverter(const CodePageConverter* converter);

const CodePageConverter& portableCodePages();

inline std::string codePageToUtf8(std::string_view bytes, unsigned cp) { return codePages().toUtf8(bytes, cp); }
inline std::string utf8ToCodePage(std::string_view text, unsigned cp) { return codePages().fromUtf8(text, cp); }

}  // namespace orv
