// UTF-16LE and UTF-8 conversions of the design streams' wide strings.
#pragma once
#include <string>
#include <string_view>

namespace orv::design {

// UTF-16LE bytes (an even count) to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::string_view units);
// UTF-8 to UTF-16LE bytes; malformed bytes become U+FFFD.
std::string utf8ToUtf16(std::string_view text);
bool isValidUtf8(std::string_view text);

}  // namespace orv::design
