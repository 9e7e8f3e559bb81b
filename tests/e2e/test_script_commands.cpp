// The string, expression and Mathematics commands in real runs: each body leaves a trail of digits
// (see script_run.h) that tells which branches the computed values took.
#include <gtest/gtest.h>

#include "e2e/script_run.h"

namespace orv::test {
namespace {

std::vector<std::string> when(const char* variable, const char* code, const char* value, const char* negate = "FALSE") {
  return {"If", variable, code, value, negate};
}
std::vector<std::string> markValue(const char* variable) {
  return {"Set Variable", "TRAIL", std::string("$TRAIL$$") + variable + "$"};
}

struct CommandCase {
  const char* name;
  ScriptLines body;
  uint32_t trail;
};

TEST(ScriptCommandsRun, ComputedValuesSteerTheScript) {
  const CommandCase cases[] = {
      {"a counted loop on a numeric condition",
       {{"Set Variable", "I", "0"},
        {"While", "I", "2", "3", "TRUE"},  // while not I > 3 (numbers, so 10 > 9 would hold too)
        {"Mathematics", "$I$", "1", "0", "I"},
        markValue("I"),
        {"Wend"}},
       91234},
      {"Evaluate Expression decides an If",
       {{"Set Variable", "N", "10"},
        {"Evaluate Expression", "$N$ > \"9\" and $N$ < \"11\"", "OK"},
        when("OK", "0", "TRUE"), mark(1), {"Else"}, mark(2), {"End"},
        {"Evaluate Expression", "$N$ > \"9\" or $N$ < \"11\" and \"a\" = \"b\"", "STRICT"},  // left to right
        when("STRICT", "0", "FALSE"), mark(3), {"End"}},
       913},
      {"a path taken apart",
       {{"Set Variable", "P", "C:\\\\Apps\\Tool\\run.exe"},
        {"Parse String", "$P$", "\\", "HEAD", "TAIL", "1", "FALSE", "FALSE"},
        when("TAIL", "0", "run.exe"), mark(1), {"End"},
        when("HEAD", "0", "C:\\Apps\\Tool"), mark(2), {"End"},
        {"Extract Path", "P", "2"},
        when("P", "4", "EXE"), mark(3), {"End"}},
       9123},
      {"a value rebuilt",
       {{"Set Variable", "S", "one-two$NEWLINE$three"},
        {"Replace String", "S", "-", "+", "FALSE", "TRUE"},
        {"Convert Case", "S", "TRUE"},
        when("S", "1", "ONE+TWO"), mark(1), {"End"},
        {"Replace String", "S", "e", "_", "TRUE", "TRUE"},  // leaves the line break whole
        when("S", "3", "$NEWLINE$"), mark(2), {"End"}},
       912},
      {"versions and the defined test",
       {{"Set Variable", "V", "10.0"},
        when("V", "6", "9.9.9.9"), mark(1), {"End"},
        when("V", "6", "10.0.0.0", "TRUE"), mark(2), {"End"},
        when("$V$", "5", ""), mark(3), {"End"},
        when("V", "5", ""), mark(4), {"End"}},
       9124},
      {"the generator of Mathematics keeps its state",
       {{"Mathematics", "5", "7", "13", ""},
        {"Mathematics", "3", "", "14", ""},
        {"Mathematics", "1000", "", "15", "R"},
        markValue("R"),
        {"Mathematics", "1000", "", "15", "R"},
        markValue("R")},
       922117},
  };
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult r = runLines(trailScript(c.body));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, c.trail);
  }
}

TEST(ScriptCommandsRun, TheCheckRejectsAnExpressionThatCannotParse) {
  EXPECT_EQ(runLines({{"Evaluate Expression", "$A$ = \"x\" AND $A$ = \"y\"", "R"},
                      {"Terminate with Exit Code", "5"}})
                .exitCode,
            314u);
  // References read as quoted operands for the check, so a well-formed one passes and runs.
  EXPECT_EQ(runLines({{"Set Variable", "A", "x"},
                      {"Evaluate Expression", "$A$ = \"x\"", "R"},
                      {"If", "R", "0", "TRUE", "FALSE"},
                      {"Terminate with Exit Code", "5"},
                      {"End"}})
                .exitCode,
            5u);
}

}  // namespace
}  // namespace orv::test
