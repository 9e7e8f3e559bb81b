// The start-up check of a script: every rejection with its message and result, and the tables an
// accepted script leaves for the run.
#include <gtest/gtest.h>

#include <cctype>

#include "core/script_check.h"
#include "script_image.h"
#include "script_rejections.h"

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

TEST(ScriptCheckTest, RejectsWithTheMessageAndResultOfTheFirstError) {
  for (const test::RejectCase& c : test::scriptRejections()) {
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

namespace orv {
namespace {

// The check and the interpreter read parameters through positions found once; they must answer as
// the image index does, including its reading into the next line and its first-match rule.
TEST(LineParametersTest, AnswerAsTheImageIndex) {
  SetupImage image = test::scriptLines({{"Set Variable", "X", "1"},
                                        {"Comment"},
                                        {"If", "X", "0", "1"},
                                        {"Label", "Ünïcode"},
                                        {"End"}});
  image.parameters.insert(image.parameters.begin(), {"{0000", "unrelated"});
  // A parameter that spells a later line's identifier in other letter case comes first in the table.
  std::string shadow = image.lineIds[4];
  for (char& c : shadow) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  image.parameters.insert(image.parameters.begin() + 1, shadow);
  image.lineIds[3] = "{ÄÖ-line}";
  image.parameters.push_back("{äö-LINE}");
  image.parameters.push_back("after");
  image.lineIds.push_back("{missing}");
  image.commands.push_back("Comment");
  image.disabled.push_back("");
  const ImageIndex index(image);
  const LineParameters params(image, index);
  for (size_t line = 0; line < image.lineCount() + 1; ++line)
    for (size_t k = 0; k < 6; ++k)
      EXPECT_EQ(params(line, k), index.parameterOfLine(line, k)) << line << " " << k;
}

}  // namespace
}  // namespace orv
