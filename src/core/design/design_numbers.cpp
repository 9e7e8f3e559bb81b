#include "core/design/design_numbers.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace orv::design {
namespace {

constexpr uint64_t kSignBit = uint64_t(1) << 63;
constexpr uint64_t kFractionMask = (uint64_t(1) << 52) - 1;
constexpr uint64_t kExponentAll = uint64_t(0x7FF) << 52;

double fromBits(uint64_t bits) { return std::bit_cast<double>(bits); }

// Rounds value / 2^shift to the nearest integer, ties to even (shift 1..64).
uint64_t shiftRounded(uint64_t value, int shift) {
  const uint64_t q = shift == 64 ? 0 : value >> shift;
  const uint64_t rem = shift == 64 ? value : value & ((uint64_t(1) << shift) - 1);
  const uint64_t half = uint64_t(1) << (shift - 1);
  return rem > half || (rem == half && (q & 1)) ? q + 1 : q;
}

// Whether an out-of-range decimal literal is huge (else tiny): its decimal exponent is positive.
bool literalIsHuge(std::string_view text) {
  size_t i = text.size() > 0 && text[0] == '-' ? 1 : 0;
  int64_t magnitude = 0;  // decimal position of the first significant digit
  bool seenSignificant = false, inFraction = false;
  for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
    const char c = text[i];
    if (c == '.') {
      inFraction = true;
    } else if (!seenSignificant && c == '0') {
      if (inFraction) --magnitude;
    } else {
      if (!seenSignificant && inFraction) --magnitude;
      seenSignificant = true;
      if (!inFraction && magnitude < 1000000) ++magnitude;
    }
  }
  int64_t exponent = 0;
  if (i < text.size()) {
    ++i;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    for (; i < text.size(); ++i) exponent = std::min<int64_t>(exponent * 10 + (text[i] - '0'), 1000000000);
    if (negative) exponent = -exponent;
  }
  return magnitude + exponent > 0;
}

// digits [. digits] [e [+-] digits], optional leading '-'.
bool isDecimalLiteral(std::string_view t) {
  size_t i = !t.empty() && t[0] == '-' ? 1 : 0;
  const size_t digitsStart = i;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
  if (i == digitsStart) return false;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
  }
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    const size_t expStart = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    if (i == expStart) return false;
  }
  return i == t.size();
}

template <typename F>
std::optional<F> parseFloating(std::string_view text) {
  if (!isDecimalLiteral(text)) return std::nullopt;
  F value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  const bool negative = text[0] == '-';
  if (ec == std::errc::result_out_of_range) {
    const F magnitude = literalIsHuge(text) ? std::numeric_limits<F>::infinity() : F(0);
    return negative ? -magnitude : magnitude;
  }
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

template <typename F>
std::string formatFloating(F value) {
  if (std::isnan(value)) return {};
  if (std::isinf(value)) return value < 0 ? "-1E+9999" : "1E+9999";
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  if (text.find_first_of(".eE") == std::string::npos) text += ".0";
  return text;
}

}  // namespace

double extendedToDouble(const Extended80& b) {
  uint64_t m = 0;
  for (int i = 7; i >= 0; --i) m = (m << 8) | b[i];
  const unsigned signAndExponent = b[8] | (unsigned(b[9]) << 8);
  const uint64_t sign = (signAndExponent & 0x8000) ? kSignBit : 0;
  const int exponent = signAndExponent & 0x7FFF;
  if (exponent == 0x7FFF) {
    const uint64_t fraction = m & ~kSignBit;
    if (fraction == 0) return fromBits(sign | kExponentAll);
    uint64_t payload = (fraction >> 11) & kFractionMask;
    if (payload == 0) payload = uint64_t(1) << 51;
    return fromBits(sign | kExponentAll | payload);
  }
  if (m == 0) return fromBits(sign);
  // value = m * 2^(e - 63), with e the exponent of bit 63 (denormals use the smallest exponent)
  int e = (exponent == 0 ? 1 : exponent) - 16383;
  const int leadingZeros = std::countl_zero(m);
  m <<= leadingZeros;
  e -= leadingZeros;
  if (e > 1023) return fromBits(sign | kExponentAll);
  if (e >= -1022) {
    uint64_t q = shiftRounded(m, 11);
    if (q >> 53) {
      q >>= 1;
      if (++e > 1023) return fromBits(sign | kExponentAll);
    }
    return fromBits(sign | (uint64_t(e + 1023) << 52) | (q & kFractionMask));
  }
  const int shift = -e - 1011;  // to units of 2^-1074
  if (shift > 64) return fromBits(sign);
  return fromBits(sign | shiftRounded(m, shift));  // a carry into the exponent field is still right
}

Extended80 doubleToExtended(double value) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  const unsigned sign = (bits & kSignBit) ? 0x8000 : 0;
  const unsigned exponent11 = unsigned(bits >> 52) & 0x7FF;
  const uint64_t fraction = bits & kFractionMask;
  uint64_t m = 0;
  unsigned exponent = 0;
  if (exponent11 == 0x7FF) {
    exponent = 0x7FFF;
    m = kSignBit | (fraction << 11);
  } else if (exponent11 == 0) {
    if (fraction != 0) {
      const int lead = 63 - std::countl_zero(fraction);
      m = fraction << (63 - lead);
      exponent = unsigned(lead - 1074 + 16383);
    }
  } else {
    m = kSignBit | (fraction << 11);
    exponent = exponent11 - 1023 + 16383;
  }
  Extended80 out{};
  for (int i = 0; i < 8; ++i) out[i] = uint8_t(m >> (8 * i));
  out[8] = uint8_t(exponent | sign);
  out[9] = uint8_t((exponent | sign) >> 8);
  return out;
}

double singleToDouble(uint32_t bits) {
  if ((bits & 0x7F800000) == 0x7F800000 && (bits & 0x007FFFFF) != 0) {
    const uint64_t sign = uint64_t(bits & 0x80000000) << 32;
    return fromBits(sign | kExponentAll | (uint64_t(bits & 0x007FFFFF) << 29));
  }
  return double(std::bit_cast<float>(bits));
}

uint32_t doubleToSingle(double value) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  if ((bits & kExponentAll) == kExponentAll && (bits & kFractionMask) != 0) {
    uint32_t fraction = uint32_t((bits & kFractionMask) >> 29);
    if (fraction == 0) fraction = 0x00400000;  // a payload only in the dropped bits: still a NaN
    return uint32_t((bits & kSignBit) >> 32) | 0x7F800000 | fraction;
  }
  return std::bit_cast<uint32_t>(float(value));
}

bool sameBits(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

std::string formatDouble(double value) { return formatFloating(value); }
std::string formatSingle(float value) { return formatFloating(value); }
std::optional<double> parseDouble(std::string_view text) { return parseFloating<double>(text); }
std::optional<float> parseSingle(std::string_view text) { return parseFloating<float>(text); }

}  // namespace orv::design
