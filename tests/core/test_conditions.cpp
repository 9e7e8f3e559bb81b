// The condition of control-flow lines and the "Evaluate Expression" grammar.
#include <gtest/gtest.h>

#include "core/conditions.h"
#include "core/expression.h"
#include "core/textops.h"
#include "core/variables.h"

namespace orv {
namespace {

struct ConditionCase {
  const char* left;  // value of the variable L
  const char* code;
  const char* right;
  bool expected;
};

TEST(ConditionTest, ComparesNumbersWhenBothSidesAreIntegersElseTexts) {
  const ConditionCase cases[] = {
      {"05", "0", "5", true},  // both integers: numeric
      {"abc", "0", "ABC", false},
      {"abc", "4", "ABC", true},
      {"05", "4", "5", true},
      {"123", "1", "2", false},  // both integers: "contains" tests equality
      {"123", "1", "123", true},
      {"a123", "1", "12", true},  // text: substring
      {"Hello", "1", "ell", true},
      {"Hello", "1", "ELL", false},
      {"Hello", "3", "ELL", true},
      {"Straße", "3", "SSE", false},  // simple case mapping: no expansion of ß
      {"ÄRGER", "3", "ärg", true},
      {"Hello", "1", "", true},  // the empty text occurs in every text
      {"b", "2", "a", true},
      {"a", "2", "b", false},
      {"a", "2", "a", false},
      {"10", "2", "9", true},    // numeric
      {"10a", "2", "9", false},  // text: "1" sorts before "9"
      {"B", "2", "a", false},    // ordinal: upper case sorts first
      {"é", "2", "z", true},     // ordinal over code points
      {"-5", "2", "-6", true},
      {"+5", "0", "5", true},
      {" 5", "0", "5", false},  // a blank makes it text
      {"2147483647", "0", "+2147483647", true},
      {"2147483648", "0", "+2147483648", false},  // beyond 32 bits: compared as texts
      {"-2147483648", "2", "2147483647", false},
      {"x", "7", "x", false},   // unknown codes are false
      {"x", "", "x", false},
      {"x", "00", "x", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(compareByCode(c.code, c.left, c.right), c.expected) << c.left << " " << c.code << " " << c.right;
}

TEST(ConditionTest, ComparesVersionsByFourComponents) {
  struct Case {
    const char* left;
    const char* right;
    int expected;
  };
  const Case cases[] = {
      {"2.0", "1.9.9", 1},
      {"1.0.0.1", "1", 1},
      {"1.2", "1.2.0.0", 0},
      {"10.0", "9.9.9.9", 1},
      {"1.2.3.4.5", "1.2.3.4.9", 0},  // only four components count
      {"1.2.x", "1.2", 0},            // the last component converts with failure as 0
      {"1.2.3.99999999999", "1.2.3.1", 1},
      {"", "0.0", 0},
      {"-1.0", "0", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(compareVersions(c.left, c.right), c.expected) << c.left << " vs " << c.right;
    EXPECT_EQ(compareVersions(c.right, c.left), -c.expected) << c.right << " vs " << c.left;
  }
  EXPECT_THROW(compareVersions("1.x.3", "1"), ConversionError);
  EXPECT_THROW(compareVersions("1", "1..3"), ConversionError);
  EXPECT_THROW(compareVersions(" 1.0", "1"), ConversionError);
}

class LineConditionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vars.setValue("WIZARD", "CANCEL");
    vars.setValue("NAME", "value of $INNER$");
    vars.setValue("INNER", "inner");
    vars.setValue("CHOICE", "CANCEL");
    vars.setValue("V", "1.2");
  }
  bool holds(const char* variable, const char* code, const char* value, const char* negate = "FALSE") {
    return evaluateCondition(vars, {variable, code, value, negate});
  }
  VariableStore vars;
};

TEST_F(LineConditionTest, ReadsTheVariableByPlainOrReferencedName) {
  EXPECT_TRUE(holds("WIZARD", "0", "CANCEL"));
  EXPECT_TRUE(holds("$WIZARD$", "0", "CANCEL"));
  EXPECT_TRUE(holds("wizard", "0", "CANCEL"));
  EXPECT_TRUE(holds("WIZARD", "0", "$CHOICE$"));           // the value is expanded
  EXPECT_TRUE(holds("NAME", "0", "value of inner"));       // the variable's value is expanded too
  EXPECT_TRUE(holds("MISSING", "0", ""));                  // a missing variable reads empty
  EXPECT_FALSE(holds("$WIZARD$X$", "0", "CANCEL"));        // not a reference: taken as the name
}

TEST_F(LineConditionTest, DefinedTestsTheNameAsWritten) {
  EXPECT_TRUE(holds("WIZARD", "5", "ignored"));
  EXPECT_FALSE(holds("$WIZARD$", "5", ""));  // dollar signs are part of the name here
  EXPECT_FALSE(holds("MISSING", "5", ""));
  EXPECT_TRUE(holds("MISSING", "5", "", "TRUE"));
}

TEST_F(LineConditionTest, NegationFlipsEveryCode) {
  EXPECT_FALSE(holds("V", "6", "1.2.0.0"));  // equal versions are not higher
  EXPECT_TRUE(holds("V", "6", "1.2.0.0", "TRUE"));
  EXPECT_TRUE(holds("V", "6", "1.2.0.0", "-1"));
  EXPECT_FALSE(holds("V", "6", "1.2.0.0", "1"));  // only "TRUE" or "-1" negate
  EXPECT_TRUE(holds("WIZARD", "9", "x", "true"));  // unknown code: false, then negated
  EXPECT_THROW(holds("V", "6", "1.x.0"), ConversionError);
}

struct ExpressionCase {
  const char* text;
  const char* expected;
};

TEST(ExpressionTest, EvaluatesComparisonsAndConnectives) {
  const ExpressionCase cases[] = {
      {R"("a" = "a")", "TRUE"},
      {R"("a"="b")", "FALSE"},
      {R"("5" = "05")", "TRUE"},     // numeric
      {R"("10" > "9")", "TRUE"},     // numeric
      {R"("10" > "9x")", "FALSE"},   // text
      {R"("+7" = "7")", "TRUE"},
      {R"("-" = "-")", "TRUE"},      // a sign alone is text
      {R"("b" >= "a")", "TRUE"},
      {R"("a" <= "a")", "TRUE"},
      {R"("a" < "B")", "FALSE"},     // ordinal, case-sensitive
      {R"("a" <> "A")", "TRUE"},
      {R"("" = "")", "TRUE"},
      {R"("say ""hi""" = "say ""hi""")", "TRUE"},  // doubled quotes stand for one
      {R"("a" = "a" and "b" = "b")", "TRUE"},
      {R"("a" = "a" and "b" = "c")", "FALSE"},
      {R"("a" = "b" or "b" = "b")", "TRUE"},
      // Strictly left to right: (T or F) and F = F, where precedence of "and" would give T.
      {R"("1" = "1" or "1" = "2" and "1" = "2")", "FALSE"},
      // (F and F) or T = T
      {R"("1" = "2" and "1" = "2" or "1" = "1")", "TRUE"},
      {R"("1" = "1" or ("1" = "2" and "1" = "2"))", "TRUE"},
      {R"((("a" = "a")))", "TRUE"},
      {"\t\"a\"\r\n=\n\"a\"  ", "TRUE"},
      {"\"é\" > \"z\"", "TRUE"},
  };
  for (const auto& c : cases) EXPECT_STREQ(expressionResultText(evaluateExpression(c.text)), c.expected) << c.text;
}

TEST(ExpressionTest, MalformedTextIsAnError) {
  const char* cases[] = {
      "",
      R"("a" = "a" AND "b" = "b")",  // keywords are case-sensitive
      R"(("a" = "a")",               // parenthesis not closed
      R"("a" = "a"))",               // one closing too many
      R"("a" == "a")",               // unknown operator
      R"("a" "a")",                  // missing operator
      R"("a" =)",                    // missing operand
      R"(a = "a")",                  // unquoted operand
      R"("5" = 5)",
      R"("a" = "a)",                 // unterminated operand
      R"("a" = "a" and)",            // missing primary after a connective
      R"("a" = "a" "b" = "b")",      // missing connective
      R"("a" = "a" xor "b" = "b")",
      R"(("a" = "a")and("b" = "b"))",  // a connective runs to the next blank or quote
      R"("a" = "a") or ("b" = "b")",   // leftover after the outermost parenthesis
      "()",
      "(",
      ")",
  };
  for (const char* text : cases) {
    EXPECT_EQ(evaluateExpression(text), ExpressionResult::Error) << text;
    EXPECT_FALSE(expressionParses(text)) << text;
  }
}

TEST(ExpressionTest, IntegersBeyond32BitsRaiseOnlyInWellFormedText) {
  EXPECT_THROW(evaluateExpression(R"("2147483648" = "1")"), ConversionError);
  EXPECT_THROW(evaluateExpression(R"("1" = "1" or "1" = "-2147483649")"), ConversionError);  // both sides run
  EXPECT_EQ(evaluateExpression(R"("-2147483648" < "2147483647")"), ExpressionResult::True);
  EXPECT_EQ(evaluateExpression(R"("99999999999" = "1" and)"), ExpressionResult::Error);
  EXPECT_TRUE(expressionParses(R"("99999999999" = "1")"));
}

TEST(ExpressionTest, DeepNestingNeedsNoCallStack) {
  const size_t depth = 200000;
  const std::string text = std::string(depth, '(') + R"("a" = "a")" + std::string(depth, ')');
  EXPECT_EQ(evaluateExpression(text), ExpressionResult::True);
  EXPECT_EQ(evaluateExpression(text.substr(1)), ExpressionResult::Error);
}

TEST(ExpressionTest, ReferencesBecomeQuotedValues) {
  VariableStore vars;
  vars.setValue("A", "abc");
  vars.setValue("N", "7");
  EXPECT_EQ(evaluateExpandedExpression(vars, R"($A$ = "abc" and $N$ > "10")"), ExpressionResult::False);
  EXPECT_EQ(evaluateExpandedExpression(vars, R"($A$ = "abc" and $N$ < "10")"), ExpressionResult::True);
  // A value's own double quotes stay inside its operand.
  vars.setValue("Q", R"(say "or" = "x")");
  EXPECT_EQ(evaluateExpandedExpression(vars, R"($Q$ = "say ""or"" = ""x""")"), ExpressionResult::True);
  EXPECT_EQ(evaluateExpandedExpression(vars, R"($Q$ = "say")"), ExpressionResult::False);
  // An undefined reference stays unquoted and so cannot parse.
  EXPECT_EQ(evaluateExpandedExpression(vars, R"($MISSING$ = "x")"), ExpressionResult::Error);
  // The compiler's check reads each reference as a quoted operand.
  EXPECT_TRUE(expressionParses(R"("MISSING" = "x")"));
}

}  // namespace
}  // namespace orv
