// "Mathematics": one operation on 64-bit integers, chosen by a code 0 to 15, with a small linear
// congruential pseudo-random generator whose state lives for the whole run.
//
// Arithmetic wraps in two's complement (so INT64_MAX + 1 gives INT64_MIN, and INT64_MIN / -1 gives
// INT64_MIN with remainder 0); a division or remainder by zero fails. Shifts by 64 bits or more give 0;
// a negative shift count fails. A failure gives the empty result text.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orv {

// Multiplier, increment and state, all 32-bit; all 0 when the engine starts.
struct RandomGenerator {
  int32_t multiplier = 0;
  int32_t increment = 0;
  int32_t state = 0;
};

enum class MathCode : int64_t {
  Add = 0,
  Subtract = 1,
  Multiply = 2,
  Divide = 3,         // truncated toward zero
  Remainder = 4,      // sign of the dividend
  And = 5,
  Or = 6,
  Xor = 7,
  ShiftLeft = 8,
  ShiftRight = 9,     // zeros shifted in
  Complement = 10,
  CharacterCode = 11, // Unicode code of the first character of operand A's text, 0 for none
  Character = 12,     // the character whose code is the low 8 bits of A (U+0000 to U+00FF)
  SeedGenerator = 13, // multiplier = A, increment = B; result A + B
  SetState = 14,      // state = A; result the 32-bit state
  NextRandom = 15,    // X = multiplier * state + increment (32-bit); state = X mod 32767; result X mod A
};

// The result text for operand texts a and b (already expanded) and the code text. Codes outside 0 to
// 15 give "0"; a code that is not an integer gives the empty text.
std::string mathematics(RandomGenerator& generator, std::string_view a, std::string_view b,
                        std::string_view code);

}  // namespace orv
