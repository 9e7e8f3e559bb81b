// Number encodings of the design streams: the 80-bit extended format, and the text forms of integers
// and floating-point values.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orv::design {

using Extended80 = std::array<uint8_t, 10>;  // little-endian: 64-bit significand, then sign and exponent

// The nearest double (ties to even); out-of-range values become infinities or zeros, NaNs keep the top of
// their payload. Exact whenever the value fits a double.
double extendedToDouble(const Extended80& bytes);
// Exact: every double is an extended value.
Extended80 doubleToExtended(double value);

// Single (32-bit) values as doubles and back. NaNs move their payload bit for bit, a signalling NaN
// stays signalling (a plain conversion would quiet it), so every single survives the double.
double singleToDouble(uint32_t bits);
uint32_t doubleToSingle(double value);

bool sameBits(double a, double b);

// Shortest text that reads back as the same value, always with a "." or an exponent so that it reads
// as a floating-point number; infinities as "1E+9999" and "-1E+9999"; empty for NaN.
std::string formatDouble(double value);
std::string formatSingle(float value);

// Parses a decimal floating-point literal (digits, optional fraction and exponent, optional leading
// "-"); out-of-range values become infinities or zeros. Empty when the text is not such a literal.
std::optional<double> parseDouble(std::string_view text);
std::optional<float> parseSingle(std::string_view text);

}  // namespace orv::design
