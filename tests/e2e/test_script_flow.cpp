// Control flow of real runs: each case is a script body whose marked lines leave a trail of digits,
// and the trail comes back as the exit code (see script_run.h).
#include <gtest/gtest.h>

#include "e2e/script_run.h"

namespace orv::test {
namespace {

// Conditions: the variable equals / differs from the value.
std::vector<std::string> is(const char* command, const char* variable, const char* value) {
  return {command, variable, "0", value, "FALSE"};
}
std::vector<std::string> isNot(const char* command, const char* variable, const char* value) {
  return {command, variable, "0", value, "TRUE"};
}
std::vector<std::string> increment(const char* variable) { return {"Mathematics", std::string("$") + variable + "$", "1", "0", variable}; }
std::vector<std::string> markValue(const char* variable) {
  return {"Set Variable", "TRAIL", std::string("$TRAIL$$") + variable + "$"};
}

struct FlowCase {
  const char* name;
  ScriptLines body;
  uint32_t trail;
};

void runCases(const std::vector<FlowCase>& cases) {
  for (const FlowCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptLines body = {{"Set Variable", "A", "1"}, {"Set Variable", "I", "0"}, {"Set Variable", "J", "0"}};
    body.insert(body.end(), c.body.begin(), c.body.end());
    const RunResult r = runLines(trailScript(body));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, c.trail);
  }
}

TEST(ScriptFlowRun, ConditionalBlocks) {
  runCases({
      {"If true with Else", {is("If", "A", "1"), mark(1), {"Else"}, mark(2), {"End"}, mark(3)}, 913},
      {"If false with Else", {is("If", "A", "2"), mark(1), {"Else"}, mark(2), {"End"}, mark(3)}, 923},
      {"If false, Else If true, Else",
       {is("If", "A", "2"), mark(1), is("Else If", "A", "1"), mark(2), {"Else"}, mark(3), {"End"}, mark(4)}, 924},
      {"If true, Else If true",
       {is("If", "A", "1"), mark(1), is("Else If", "A", "1"), mark(2), {"Else"}, mark(3), {"End"}, mark(4)}, 914},
      {"third branch of a chain",
       {is("If", "A", "2"), mark(1), is("Else If", "A", "3"), mark(2), is("Else If", "A", "1"), mark(3),
        is("Else If", "A", "1"), mark(4), {"Else"}, mark(5), {"End"}},
       93},
      {"all false to the Else",
       {is("If", "A", "2"), mark(1), is("Else If", "A", "3"), mark(2), {"Else"}, mark(3), {"End"}}, 93},
      {"all false without Else", {is("If", "A", "2"), mark(1), is("Else If", "A", "3"), mark(2), {"End"}, mark(3)}, 93},
      {"a skipped branch passes a nested block whole, disabled lines unseen",
       {is("If", "A", "2"), mark(1), {"//If", "A", "0", "1", "FALSE"}, is("If", "A", "1"), mark(2), {"Else"},
        mark(3), {"End"}, {"//End"}, {"Else"}, mark(4), {"End"}},
       94},
      {"an unknown command named like End is no End",
       {is("If", "A", "2"), {"Compiler Variable End"}, mark(1), {"End"}, mark(2)}, 92},
      {"a false If without Else leaves later chains intact",
       {is("If", "A", "2"), {"End"}, is("If", "A", "1"), mark(1), is("Else If", "A", "1"), mark(2), {"End"}}, 91},
      {"a false chain with Else leaves later chains intact",
       {is("If", "A", "2"), is("Else If", "A", "3"), {"Else"}, {"End"}, is("If", "A", "1"), mark(1),
        is("Else If", "A", "1"), mark(2), {"End"}},
       91},
      {"an Else If chain two levels deep",
       {is("If", "A", "1"), is("If", "A", "1"), is("If", "A", "2"), mark(1), is("Else If", "A", "1"), mark(2),
        {"Else"}, mark(3), {"End"}, mark(4), {"End"}, {"End"}},
       924},
      {"a disabled and an ignored line never run",
       {{"//Set Variable", "TRAIL", "1"}, {"Ignore", "TRAIL", "2"}, mark(3)}, 93},
      {"the wizard loop's End closes no If branch",
       {is("If", "A", "1"), mark(1), {"Wizard Loop"}, {"Display Dialog", "a", "WIZARD", "TRUE", "", "TRUE", "FALSE"},
        {"End"}, is("Else If", "A", "1"), mark(2), {"End"}, mark(3)},
       913},
  });
}

TEST(ScriptFlowRun, Loops) {
  runCases({
      {"While counts", {isNot("While", "I", "3"), markValue("I"), increment("I"), {"Wend"}}, 9012},
      {"While false never runs", {is("While", "A", "2"), mark(1), {"Wend"}, mark(2)}, 92},
      {"Break leaves the loop",
       {isNot("While", "I", "5"), increment("I"), is("If", "I", "3"), {"Break"}, {"End"}, markValue("I"), {"Wend"},
        mark(7)},
       9127},
      {"Continue skips the rest of the pass",
       {isNot("While", "I", "3"), increment("I"), is("If", "I", "2"), {"Continue"}, {"End"}, markValue("I"), {"Wend"}},
       913},
      {"Repeat runs before it tests",
       {{"Repeat"}, markValue("I"), increment("I"), is("Until", "I", "3"), {"Repeat"}, mark(7), is("Until", "A", "1")},
       90127},
      {"Break in an inner loop leaves only that loop",
       {isNot("While", "I", "2"), increment("I"), {"For Each", "X", ",", "5,6"}, markValue("X"), {"Break"}, {"Next"},
        markValue("I"), {"Wend"}},
       95152},
      {"Break after a finished multi-pass Repeat leaves the While",
       {isNot("While", "I", "9"), {"Repeat"}, increment("J"), is("Until", "J", "3"), {"Break"}, {"Wend"}, markValue("J")},
       93},
      {"Break after Continue in an inner While leaves the For Each",
       {{"For Each", "X", ",", "1,2"}, {"Set Variable", "J", "0"}, isNot("While", "J", "2"), increment("J"),
        {"Continue"}, {"Wend"}, markValue("X"), {"Break"}, {"Next"}, mark(8)},
       918},
      {"GoTo leaves a loop", {{"While", "A", "0", "1", "FALSE"}, mark(1), {"GoTo Label", "out"}, {"Wend"}, {"Label", "OUT"}, mark(2)},
       912},
      {"GoTo backwards", {{"Label", "again"}, increment("I"), markValue("I"), isNot("If", "I", "3"), {"GoTo Label", "Again"}, {"End"}},
       9123},
  });
}

TEST(ScriptFlowRun, ForEach) {
  runCases({
      {"two separators in a row", {{"For Each", "X", ",", "1,,2"}, markValue("X"), {"Next"}}, 912},
      {"leading and trailing separators", {{"For Each", "X", ";", ";;3;4;"}, markValue("X"), {"Next"}}, 934},
      {"a separator of several characters", {{"For Each", "X", "--", "1--2"}, markValue("X"), {"Next"}}, 912},
      {"the list is expanded once",
       {{"Set Variable", "L", "5,6"}, {"For Each", "$X$", ",", "$L$"}, {"Set Variable", "L", "7"}, markValue("X"), {"Next"}},
       956},
      {"an empty list never runs the body", {{"For Each", "X", ",", ""}, mark(1), {"Next"}, mark(2)}, 92},
      {"an empty separator takes the list whole", {{"For Each", "X", "", "12"}, markValue("X"), {"Next"}}, 912},
      {"the loop variable is deleted after the loop",
       {{"For Each", "X", ",", "1"}, {"Next"}, {"If", "X", "5", "", "FALSE"}, mark(1), {"Else"}, mark(2), {"End"}}, 92},
      {"Break deletes the loop variable",
       {{"For Each", "X", ",", "1,2"}, {"Break"}, {"Next"}, {"If", "X", "5", "", "FALSE"}, mark(1), {"Else"}, mark(2),
        {"End"}},
       92},
      {"Continue takes the next item",
       {{"For Each", "X", ",", "1,2,3"}, is("If", "X", "2"), {"Continue"}, {"End"}, markValue("X"), {"Next"}}, 913},
      {"the same variable in two loops",
       {{"For Each", "X", ",", "1"}, markValue("X"), {"Next"}, {"For Each", "X", ",", "2"}, markValue("X"), {"Next"}}, 912},
  });
}

TEST(ScriptFlowRun, WizardLoopLeavesAfterTheLastPage) {
  const std::vector<std::string> page = {"Display Dialog", "page", "WIZARD", "TRUE", "", "TRUE", "FALSE"};
  runCases({
      {"three pages answered Next", {{"Wizard Loop"}, page, {"Comment"}, page, page, {"End"}, mark(1)}, 91},
      {"a page left out by its condition",
       {{"Wizard Loop"}, {"Display Dialog", "page", "SEEN", "TRUE", "SILENT", "TRUE", "TRUE"}, page, {"End"},
        {"If", "SEEN", "5", "", "FALSE"}, mark(1), {"End"}},
       9},
  });
}

TEST(ScriptFlowRun, EndingTheRun) {
  struct Case {
    const char* name;
    ScriptLines lines;
    uint32_t exitCode;
  };
  const Case cases[] = {
      {"an exit code that is not an integer", {{"Terminate with Exit Code", "seven"}}, 0},
      {"a negative exit code", {{"Terminate with Exit Code", "-2"}}, 0xFFFFFFFEu},
      {"an expanded exit code", {{"Set Variable", "C", "42"}, {"Terminate with Exit Code", "$C$"}}, 42},
      {"Terminate Install stops at once", {{"Terminate Install"}, {"Terminate with Exit Code", "5"}}, 0},
      {"a disabled last line", {{"Set Variable", "C", "1"}, {"//Terminate with Exit Code", "5"}}, 0},
      {"an ignored last line", {{"Set Variable", "C", "1"}, {"Ignore"}}, 0},
      {"an unknown command", {{"Make Coffee", "strong"}, {"Terminate with Exit Code", "3"}}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(runLines(c.lines).exitCode, c.exitCode);
  }
}

}  // namespace
}  // namespace orv::test
