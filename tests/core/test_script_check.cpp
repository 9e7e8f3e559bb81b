// The start-up check of a script: every rejection with its message and result, and the tables an
// accepted script leaves for the run.
#include <gtest/gtest.h>

#include "core/script_check.h"
#include "script_image.h"

namespace orv {
namespace {

using Lines = std::vector<std::vector<std::string>>;
using test::scriptLines;

struct Checked {
  ScriptCheck check;
  ScriptTables tables;
  VariableStore vars;
};

// Expressions are "well formed" here when their quotes pair up; the real grammar is tested with the
// expression evaluator.
bool quotesPair(std::string_view text) {
  size_t quotes = 0;
  for (char c : text) quotes += c == '"';
  return quotes % 2 == 0;
}

std::unique_ptr<Checked> check(const Lines& lines) {
  auto out = std::make_unique<Checked>();
  const SetupImage image = scriptLines(lines);
  const ImageIndex index(image);
  out->check = checkScript(image, index, out->vars, out->tables, quotesPair);
  return out;
}

const std::vector<std::string> kTrue = {"X", "0", "1", "FALSE"};  // condition on the declared X

struct RejectCase {
  const char* name;
  Lines lines;
  int64_t result;
  std::string message;
};

TEST(ScriptCheckTest, RejectsWithTheMessageAndResultOfTheFirstError) {
  const int64_t count = kBlockCountMismatch;
  const RejectCase cases[] = {
      // Block structure.
      // An "End" after a wizard loop is not matched against the If stack (the wizard flag stays on until the
      // next "If"), so only the count finds the extra one.
      {"one End too many after a wizard loop", {{"Wizard Loop"}, {"End"}, {"End"}}, count, "Too many END statements"},
      {"one End too many after an If", {{"If", "SILENT", "0", "TRUE"}, {"End"}, {"End"}}, 2,
       "IF conditional closed outside of IF conditional scope"},
      {"If left open", {{"If", "SILENT", "0", "TRUE"}}, count, "Insufficient END statements"},
      {"Wizard Loop left open", {{"Wizard Loop"}}, count, "Insufficient END statements"},
      {"While left open", {{"While", "SILENT", "0", "TRUE"}}, count, "Insufficient WEND statements"},
      {"Wend alone", {{"Wend"}}, 0, "WHILE loop closed outside of WHILE loop scope"},
      {"Repeat left open", {{"Repeat"}}, count, "Insufficient UNTIL statements"},
      {"Until alone", {{"Comment"}, {"Until", "SILENT", "0", "TRUE"}}, 1,
       "REPEAT loop closed outside of REPEAT loop scope"},
      {"For Each left open", {{"For Each", "I", ",", "a,b"}}, count, "Insufficient NEXT statements"},
      {"Next alone", {{"Next"}}, 0, "FOR EACH loop closed outside of FOR EACH loop scope"},
      {"Break outside loops", {{"If", "SILENT", "0", "TRUE"}, {"Break"}, {"End"}}, 1,
       "Break not allowed outside of LOOP scope"},
      {"Continue outside loops", {{"Continue"}}, 0, "Continue not allowed outside of LOOP scope"},
      {"End closes a While", {{"While", "SILENT", "0", "TRUE"}, {"End"}, {"Wend"}}, 1,
       "IF conditional closed outside of IF conditional scope"},
      {"End closes a While inside an If",
       {{"If", "SILENT", "0", "TRUE"}, {"While", "SILENT", "0", "TRUE"}, {"End"}, {"Wend"}, {"End"}}, 2,
       "IF conditional closed outside of LOOP scope"},
      {"Wend inside an If", {{"While", "SILENT", "0", "TRUE"}, {"If", "SILENT", "0", "TRUE"}, {"Wend"}}, 2,
       "WHILE loop closed outside of CONDITIONAL or REPEAT or FOR EACH loop scope"},
      {"Until inside a While", {{"Repeat"}, {"While", "SILENT", "0", "TRUE"}, {"Until", "SILENT", "0", "TRUE"}}, 2,
       "REPEAT loop closed outside of CONDITIONAL or WHILE or FOR EACH loop scope"},
      {"Next inside a Repeat", {{"For Each", "I", ",", "a"}, {"Repeat"}, {"Next"}}, 2,
       "FOR EACH loop closed outside of CONDITIONAL or REPEAT or WHILE loop scope"},
      {"nested For Each on one variable", {{"For Each", "I", ",", "a"}, {"For Each", "i", ",", "b"}, {"Next"}, {"Next"}},
       1, "FOR EACH variable re-used inside nested FOR EACH loop"},
      {"Label inside an If", {{"If", "SILENT", "0", "TRUE"}, {"Label", "A"}, {"End"}}, 1,
       "LABEL statements cannot be nested inside loops/conditionals"},
      {"Label inside a wizard loop", {{"Wizard Loop"}, {"Label", "A"}, {"End"}}, 1,
       "LABEL statements cannot be nested inside loops/conditionals"},
      // Labels.
      {"label names differ in case only", {{"Label", "Start"}, {"Label", "START"}}, 1, "LABEL re-defined: START"},
      {"a disabled duplicate label", {{"Label", "A"}, {"//Label", "a"}}, 1, "LABEL re-defined: a"},
      {"GoTo an unknown label", {{"Label", "A"}, {"GoTo Label", "b"}}, 1, "LABEL undefined: b"},
      // Variables.
      {"If on an undeclared variable set later", {{"If", "X", "0", "1", "FALSE"}, {"End"}, {"Set Variable", "X", "1"}}, 0,
       "Variable not defined: X"},
      {"If on an undeclared reference", {{"If", "$X$", "0", "1", "FALSE"}, {"End"}}, 0, "Variable not defined: $X$"},
      {"the compared value wins over the variable",
       {{"If", "Y", "0", "$Z$", "FALSE"}, {"End"}}, 0, "Variable not defined: $Z$"},
      {"While without a variable", {{"While", "", "0", "1"}, {"Wend"}}, 0, "Variable required"},
      {"run-time name of a predeclared setting", {{"If", "ZORN_DISABLE_ROLLBACK", "0", "TRUE"}, {"End"}}, 0,
       "Variable not defined: ZORN_DISABLE_ROLLBACK"},
      {"Set Variable without a name", {{"Set Variable", "", "1"}}, 0, "Variable required"},
      {"Set Variable with only the keep marker", {{"Set Variable", "$ZORN$ZORN$TRUE", "1"}}, 0, "Variable required"},
      {"For Each over a variable set before", {{"Set Variable", "I", "1"}, {"For Each", "I", ",", "a"}, {"Next"}}, 1,
       "FOR EACH variable previously defined outside FOR EACH loop"},
      {"For Each without a variable", {{"For Each", "", ",", "a"}, {"Next"}}, 0, "Variable required"},
      {"Convert Path on an undefined variable", {{"Convert Path", "P", "1"}}, 0, "Variable not defined: P"},
      {"Mathematics without a result", {{"Mathematics", "1", "2", "0", ""}}, 0, "Variable required"},
      {"Parse String without results", {{"Parse String", "a,b", ",", "", ""}}, 0, "Variable required"},
      {"Get Folder Location without a result", {{"Get Folder Location", ""}}, 0, "Variable required"},
      {"Read from Text File without a result", {{"Read from Text File", "f.txt", ""}}, 0, "Variable required"},
      {"System Restore on without a result", {{"System Restore", "TRUE", "desc", ""}}, 0, "Variable required"},
      // Command rules.
      {"Install Files without a target",
       {{"Install Files", "files", "", ""}}, 0,
       "A target folder must be specified for files that are being installed.\r"
       "The value $TARGETDIR$ represents the destination folder chosen by the user."},
      {"Delete Files without a mode", {{"Delete Files", "C:\\x", "*.*", "FALSE", "no"}}, 0,
       "At least one delete mode must be selected"},
      {"Web Media Block with a bad name", {{"Web Media Block", "a/b", "http://x/"}}, 0,
       "Web Media Block name must be a legal file name"},
      {"Web Media Block without a URL wins", {{"Web Media Block", "a:b", ""}}, 0,
       "Web Media Block must have at least one download URL"},
      {"Display Dialog without a name", {{"Display Dialog", "", "WIZARD", "TRUE", "", "TRUE", "FALSE"}}, 0, "Dialog name not specified"},
      {"Display Dialog on an undefined condition", {{"Display Dialog", "welcome", "WIZARD", "TRUE", "$NOPE$"}}, 0,
       "Variable not defined: $NOPE$"},
      {"Evaluate Expression that does not parse", {{"Evaluate Expression", "$A$ = \"x", "R"}}, 0,
       "Syntax error in expression. Please review the help topic \"Evaluate Expression\" for the correct syntax."},
      {"Evaluate Expression without a result", {{"Evaluate Expression", "\"a\" = \"a\"", ""}}, 0, "Variable required"},
      // Wizard loops.
      {"Set Variable inside a wizard loop",
       {{"Wizard Loop"}, {"Display Dialog", "welcome", "WIZARD", "TRUE", "", "TRUE", "FALSE"}, {"Set Variable", "X", "1"}, {"End"}}, 2,
       "Statements other than DISPLAY DIALOG not allowed inside WIZARD LOOP"},
  };
  for (const RejectCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = check(c.lines);
    EXPECT_EQ(r->check.result, c.result);
    EXPECT_EQ(r->check.message, c.message);
    EXPECT_FALSE(r->check.accepted());
  }
}

TEST(ScriptCheckTest, AcceptsWhatTheRulesAllow) {
  const std::pair<const char*, Lines> cases[] = {
      {"empty script", {}},
      {"nested blocks of every kind",
       {{"Set Variable", "X", "1"},
        {"While", "X", "0", "1"},
        {"Repeat"},
        {"For Each", "I", ",", "a,b"},
        {"If", "I", "0", "a"},
        {"Break"},
        {"Else If", "I", "0", "b"},
        {"Continue"},
        {"Else"},
        {"End"},
        {"Next"},
        {"Until", "X", "0", "1"},
        {"Wend"}}},
      {"a disabled Label inside an If", {{"If", "SILENT", "0", "TRUE"}, {"//Label", "A"}, {"End"}, {"Label", "B"}}},
      {"a disabled GoTo to a missing label", {{"//GoTo Label", "nowhere"}}},
      {"GoTo a label in another case", {{"GoTo Label", "start"}, {"Label", "Start"}}},
      {"disabled lines are outside the block count", {{"//If", "X", "0", "1"}, {"//Wend"}, {"//Break"}}},
      {"the same For Each variable in two loops",
       {{"For Each", "I", ",", "a"}, {"Next"}, {"For Each", "I", ",", "b"}, {"Next"}}},
      {"a kept Set Variable declares for the whole script",
       {{"If", "KEPT", "0", "1"}, {"End"}, {"Set Variable", "KEPT$ZORN$ZORN$TRUE", "1"}}},
      {"a disabled kept Set Variable declares too",
       {{"If", "KEPT", "0", "1"}, {"End"}, {"//Set Variable", "KEPT$ZORN$ZORN$TRUE", "1"}}},
      {"a defined-test needs no variable", {{"If", "NOWHERE", "5", "", "FALSE"}, {"End"}}},
      {"a literal value needs no variable", {{"If", "SILENT", "0", "NOWHERE", "FALSE"}, {"End"}}},
      {"Install Files into TARGETDIR", {{"Install Files", "files", "", "$TARGETDIR$"}}},
      {"Mathematics that seeds the generator needs no result", {{"Mathematics", "1", "2", "13", ""}}},
      {"a wizard loop of dialogs, comments and ignored lines",
       {{"Wizard Loop"},
        {"Display Dialog", "welcome", "WIZARD", "TRUE", "", "TRUE", "FALSE"},
        {"Comment"},
        {"Ignore", "x"},
        {"//Set Variable", "X", "1"},
        {"Display Dialog", "finish", "WIZARD", "TRUE", "", "TRUE", "FALSE"},
        {"End"},
        {"Set Variable", "X", "1"}}},
      {"an End after a wizard loop closes the If around it",
       {{"If", "SILENT", "0", "TRUE"}, {"Wizard Loop"}, {"End"}, {"End"}}},
      {"Break in a loop opened after an If", {{"While", "SILENT", "0", "TRUE"}, {"If", "SILENT", "0", "TRUE"}, {"Break"}, {"End"}, {"Wend"}}},
  };
  for (const auto& [name, lines] : cases) {
    SCOPED_TRACE(name);
    const auto r = check(lines);
    EXPECT_TRUE(r->check.accepted()) << r->check.message << " at " << r->check.result;
    EXPECT_EQ(r->check.message, "Script compiled successfully");
    EXPECT_EQ(r->check.line(), 0u);
  }
}

TEST(ScriptCheckTest, ReportsTheSourcePositionOfTheFailingLine) {
  const auto r = check({{"Comment"}, {"Comment"}, {"Comment"}, {"GoTo Label", "missing"}});
  EXPECT_EQ(r->check.result, 3);
  EXPECT_EQ(r->check.line(), 4u);
  EXPECT_EQ(r->check.sourceFile, "C:\\project\\test.orv");
  EXPECT_EQ(r->check.sourceLine, 4);
  EXPECT_EQ(r->check.report(), "C:\\project\\test.orv:4: LABEL undefined: missing");

  const auto counts = check({{"Repeat"}});
  EXPECT_EQ(counts->check.line(), 0u);
  EXPECT_EQ(counts->check.report(), "Insufficient UNTIL statements");
}

TEST(ScriptCheckTest, MarksTheInstallingLinesOfTheRun) {
  const auto r = check({{"Install Files", "files", "", "$TARGETDIR$"},
                        {"//Create Folder", "C:\\x"},
                        {"Set Variable", "X", "1"},
                        {"Write Registry", "k"},
                        {"Delete Files", "C:\\x", "*", "true", ""},
                        {"Comment"}});
  ASSERT_TRUE(r->check.accepted()) << r->check.message;
  EXPECT_EQ(r->tables.lineActionStates, (std::vector<std::string>{"FALSE", "SKIP", "SKIP", "FALSE", "FALSE", "SKIP"}));
}

TEST(ScriptCheckTest, LeavesTheLabelNamesAndItsDeclarations) {
  const auto r = check({{"Label", "Start"},
                        {"Set Variable", "x", "1"},
                        {"For Each", "ITEM", ";", "a"},
                        {"Next"},
                        {"Get Folder Location", "folder"}});
  ASSERT_TRUE(r->check.accepted()) << r->check.message;
  EXPECT_EQ(r->tables.labelNames, std::vector<std::string>{"START"});
  EXPECT_TRUE(r->vars.exists("X"));
  EXPECT_TRUE(r->vars.exists("FOLDER"));
  EXPECT_TRUE(r->vars.exists("ZORN_COMPRESSCACHE"));
  EXPECT_FALSE(r->vars.exists("ITEM"));  // "Next" removes the loop variable again
}

TEST(ScriptCheckTest, StartsFromAnEmptyStore) {
  VariableStore vars;
  vars.setValue("LEFTOVER", "1");
  ScriptTables tables;
  const SetupImage image = scriptLines({{"If", "LEFTOVER", "0", "1"}, {"End"}});
  const ImageIndex index(image);
  EXPECT_EQ(checkScript(image, index, vars, tables).message, "Variable not defined: LEFTOVER");
}

}  // namespace
}  // namespace orv
