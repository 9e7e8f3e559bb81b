// "Mathematics": every code, the overflow and failure rules, and the pseudo-random generator.
#include <gtest/gtest.h>

#include "core/mathematics.h"

namespace orv {
namespace {

struct MathCase {
  const char* a;
  const char* b;
  const char* code;
  const char* expected;
};

TEST(MathematicsTest, ComputesEveryCode) {
  const MathCase cases[] = {
      {"2", "3", "0", "5"},
      {"2", "3", "1", "-1"},
      {"-4", "3", "2", "-12"},
      {"-7", "2", "3", "-3"},  // truncated toward zero
      {"-7", "2", "4", "-1"},  // sign of the dividend
      {"7", "-2", "4", "1"},
      {"12", "10", "5", "8"},
      {"12", "10", "6", "14"},
      {"12", "10", "7", "6"},
      {"1", "40", "8", "1099511627776"},
      {"-1", "60", "9", "15"},  // zeros shifted in
      {"-16", "2", "9", "4611686018427387900"},
      {"5", "x", "10", "-6"},  // B is not read
      {"A", "", "11", "65"},
      {"", "", "11", "0"},
      {"é", "", "11", "233"},
      {"€uro", "", "11", "8364"},  // the character's Unicode code
      {"66", "x", "12", "B"},
      {"322", "", "12", "B"},  // low 8 bits
      {"233", "", "12", "é"},
      {"+3", "-3", "0", "0"},
      {"9223372036854775807", "0", "0", "9223372036854775807"},
  };
  for (const auto& c : cases) {
    RandomGenerator g;
    EXPECT_EQ(mathematics(g, c.a, c.b, c.code), c.expected) << c.a << " " << c.b << " code " << c.code;
  }
}

TEST(MathematicsTest, OverflowWrapsAndFailuresGiveTheEmptyText) {
  const MathCase cases[] = {
      {"9223372036854775807", "1", "0", "-9223372036854775808"},
      {"-9223372036854775808", "1", "1", "9223372036854775807"},
      {"4294967296", "4294967296", "2", "0"},
      {"-9223372036854775808", "-1", "3", "-9223372036854775808"},
      {"-9223372036854775808", "-1", "4", "0"},
      {"1", "63", "8", "-9223372036854775808"},
      {"1", "64", "8", "0"},
      {"-1", "64", "9", "0"},
      {"1", "-1", "8", ""},  // negative shift count
      {"5", "0", "3", ""},
      {"5", "0", "4", ""},
      {"x", "1", "0", ""},
      {"1", "x", "0", ""},
      {"1", "", "0", ""},
      {" 1", "1", "0", ""},  // no blanks
      {"0x10", "1", "0", ""},
      {"9223372036854775808", "0", "0", ""},
      {"1", "1", "x", ""},
      {"1", "1", "", ""},
      {"1", "1", "16", "0"},  // unknown codes give 0
      {"1", "1", "-1", "0"},
  };
  for (const auto& c : cases) {
    RandomGenerator g;
    EXPECT_EQ(mathematics(g, c.a, c.b, c.code), c.expected) << c.a << " " << c.b << " code " << c.code;
  }
}

TEST(MathematicsTest, RandomGeneratorFollowsItsState) {
  RandomGenerator g;
  // Before any seed everything is 0.
  EXPECT_EQ(mathematics(g, "100", "", "15"), "0");
  EXPECT_EQ(mathematics(g, "0", "", "15"), "");

  EXPECT_EQ(mathematics(g, "1103515245", "12345", "13"), "1103527590");
  EXPECT_EQ(g.multiplier, 1103515245);
  EXPECT_EQ(g.increment, 12345);
  EXPECT_EQ(mathematics(g, "42", "", "14"), "42");
  // X = 1103515245 * 42 + 12345 in 32 bits.
  const auto x = static_cast<int32_t>(uint32_t(1103515245u) * 42u + 12345u);
  EXPECT_EQ(mathematics(g, "1000", "", "15"), std::to_string(x % 1000));
  EXPECT_EQ(g.state, x % 32767);
  // The next value follows from the new state.
  const auto y = static_cast<int32_t>(uint32_t(1103515245u) * uint32_t(g.state) + 12345u);
  EXPECT_EQ(mathematics(g, "6", "", "15"), std::to_string(y % 6));

  // Seeds and state keep their low 32 bits.
  EXPECT_EQ(mathematics(g, "4294967297", "-1", "13"), "4294967296");
  EXPECT_EQ(g.multiplier, 1);
  EXPECT_EQ(g.increment, -1);
  EXPECT_EQ(mathematics(g, "4294967295", "", "14"), "-1");
  EXPECT_EQ(g.state, -1);
  // A failing read leaves the state alone.
  EXPECT_EQ(mathematics(g, "x", "", "14"), "");
  EXPECT_EQ(g.state, -1);
}

}  // namespace
}  // namespace orv
