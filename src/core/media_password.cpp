#include "core/media_password.h"

#include "core/image.h"

namespace orv {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

constexpr char kDigits[] = "0123456789ABCDEF";

// Pairs of hexadecimal digits, `reversed` taking the second digit of each pair as the high one.
std::optional<std::string> fromHexPairs(std::string_view text, bool reversed) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int first = hexValue(text[i]), second = hexValue(text[i + 1]);
    if (first < 0 || second < 0) return std::nullopt;
    out += static_cast<char>(reversed ? second * 16 + first : first * 16 + second);
  }
  return out;
}

std::string toHexPairs(std::string_view bytes, bool reversed) {
  std::string out;
  for (unsigned char c : bytes) {
    const char high = kDigits[c >> 4], low = kDigits[c & 15];
    out += reversed ? low : high;
    out += reversed ? high : low;
  }
  return out;
}

// Every character combined with its own position (0 for the first); its own inverse.
std::string withPositions(std::string text) {
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(static_cast<unsigned char>(text[i]) ^ (i & 0xFF));
  return text;
}

}  // namespace

std::optional<std::string> unscrambleMediaPassword(std::string_view stored) {
  const std::optional<std::string> first = fromHexPairs(stored, false);
  if (!first) return std::nullopt;
  return fromHexPairs(withPositions(*first), true);
}

std::string scrambleMediaPassword(std::string_view password) {
  return toHexPairs(withPositions(toHexPairs(password, true)), false);
}

std::string storedBlockPassword(const ImageIndex& index, std::string_view blockName) {
  std::string stored = index.mediaPassword(blockName);
  if (stored.empty()) stored = index.mediaPassword("offline");
  return stored;
}

}  // namespace orv
