#include "core/pe.h"

#include <cstring>

namespace orv {
namespace {
uint32_t le32(std::string_view b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}
uint16_t le16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8));
}
}  // namespace

std::optional<uint64_t> peImageEnd(std::string_view h) {
  if (h.size() < 0x40 || h[0] != 'M' || h[1] != 'Z') return std::nullopt;
  const uint64_t peAt = le32(h, 0x3C);
  if (peAt + 24 > h.size() || h.substr(peAt, 4) != std::string_view("PE\0\0", 4)) return std::nullopt;
  const uint16_t sections = le16(h, peAt + 6);
  const uint16_t optionalSize = le16(h, peAt + 20);
  const uint64_t table = peAt + 24 + optionalSize;
  if (sections == 0 || table + uint64_t(sections) * 40 > h.size()) return std::nullopt;
  uint64_t end = 0;
  for (uint16_t i = 0; i < sections; ++i) {
    const uint64_t s = table + uint64_t(i) * 40;
    const uint64_t rawSize = le32(h, s + 16), rawOffset = le32(h, s + 20);
    if (rawOffset + rawSize > end) end = rawOffset + rawSize;
  }
  return end;
}

}  // namespace orv
