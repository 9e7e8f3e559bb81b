#include "core/mathematics.h"


#include "core/text.h"
#include "core/textops.h"

namespace orv {
namespace {

constexpr int32_t kRandomModulus = 32767;

// Two's-complement arithmetic without the undefined behaviour of signed overflow.
int64_t wrap(uint64_t bits) { return static_cast<int64_t>(bits); }
uint64_t bitsOf(int64_t value) { return static_cast<uint64_t>(value); }
int32_t low32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(bitsOf(value))); }

bool usesB(MathCode code) {
  return (code >= MathCode::Add && code <= MathCode::ShiftRight) || code == MathCode::SeedGenerator;
}

std::optional<int64_t> quotient(int64_t a, int64_t b) {
  if (b == 0) return std::nullopt;
  if (b == -1) return wrap(0 - bitsOf(a));  // INT64_MIN / -1 wraps to INT64_MIN
  return a / b;
}

std::optional<int64_t> remainder(int64_t a, int64_t b) {
  if (b == 0) return std::nullopt;
  if (b == -1) return 0;
  return a % b;
}

std::optional<int64_t> shifted(int64_t a, int64_t count, bool left) {
  if (count < 0) return std::nullopt;
  if (count >= 64) return 0;
  return wrap(left ? bitsOf(a) << count : bitsOf(a) >> count);
}

int64_t characterCode(std::string_view text) {
  if (text.empty()) return 0;
  size_t i = 0;
  return decodeUtf8(text, i);
}

std::optional<int64_t> nextRandom(RandomGenerator& g, int64_t a) {
  const auto x = static_cast<int32_t>(static_cast<uint32_t>(g.multiplier) * static_cast<uint32_t>(g.state) +
                                      static_cast<uint32_t>(g.increment));
  g.state = x % kRandomModulus;
  return remainder(x, a);
}

std::optional<int64_t> compute(RandomGenerator& g, MathCode code, int64_t a, int64_t b) {
  switch (code) {
    case MathCode::Add: return wrap(bitsOf(a) + bitsOf(b));
    case MathCode::Subtract: return wrap(bitsOf(a) - bitsOf(b));
    case MathCode::Multiply: return wrap(bitsOf(a) * bitsOf(b));
    case MathCode::Divide: return quotient(a, b);
    case MathCode::Remainder: return remainder(a, b);
    case MathCode::And: return a & b;
    case MathCode::Or: return a | b;
    case MathCode::Xor: return a ^ b;
    case MathCode::ShiftLeft: return shifted(a, b, true);
    case MathCode::ShiftRight: return shifted(a, b, false);
    case MathCode::Complement: return ~a;
    case MathCode::SeedGenerator:
      g.multiplier = low32(a);
      g.increment = low32(b);
      return wrap(bitsOf(a) + bitsOf(b));
    case MathCode::SetState: g.state = low32(a); return g.state;
    case MathCode::NextRandom: return nextRandom(g, a);
    case MathCode::CharacterCode:
    case MathCode::Character: break;  // handled on the texts
  }
  return 0;  // a code the command does not know
}

}  // namespace

std::string mathematics(RandomGenerator& generator, std::string_view aText, std::string_view bText,
                        std::string_view codeText) {
  const std::optional<int64_t> codeNumber = toInt64(codeText);
  if (!codeNumber) return {};
  const auto code = static_cast<MathCode>(*codeNumber);
  if (code == MathCode::CharacterCode) return std::to_string(characterCode(aText));

  const std::optional<int64_t> a = toInt64(aText);
  if (!a) return {};
  if (code == MathCode::Character) {
    std::string character;
    appendUtf8(character, static_cast<char32_t>(bitsOf(*a) & 0xFF));
    return character;
  }
  int64_t b = 0;
  if (usesB(code)) {
    const std::optional<int64_t> parsed = toInt64(bText);
    if (!parsed) return {};
    b = *parsed;
  }
  const std::optional<int64_t> result = compute(generator, code, *a, b);
  return result ? std::to_string(*result) : std::string();
}

}  // namespace orv
