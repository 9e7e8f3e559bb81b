// The string, variable and expression commands and the line condition, called in-process on an engine
// holding a small script image: each line runs through its family table entry in order.
#include <gtest/gtest.h>

#include <windows.h>

#include "../core/script_image.h"
#include "bootstrap/engine.h"
#include "core/text.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "platform/system.h"
#include "script/command.h"
#include "script/commands.h"
#include "script/condition.h"

namespace orv {
namespace {

using Lines = std::vector<std::vector<std::string>>;

CommandHandler tableEntry(std::string_view name) {
  for (std::span<const CommandEntry> family : {textCommands(), expressionCommands()})
    for (const CommandEntry& entry : family)
      if (entry.name == name) return entry.handler;
  return nullptr;
}

class CommandRun {
 public:
  explicit CommandRun(const Lines& lines) { engine.loadImage(test::scriptLines(lines)); }

  // Runs every line in order, as a straight script would.
  CommandRun& run() {
    for (size_t line = 1; line <= engine.image.lineCount(); ++line) {
      CommandContext context(engine, line);
      const CommandHandler handler = tableEntry(context.command());
      if (!handler) ADD_FAILURE() << "no handler for " << context.command();
      if (handler) handler(context);
    }
    return *this;
  }
  std::string var(std::string_view name) const { return engine.vars.getValue(name); }
  bool has(std::string_view name) const { return engine.vars.exists(name); }
  // The name as the store keeps it (the letter case of its first writing).
  std::string storedName(std::string_view name) const {
    std::vector<std::string> all;
    engine.vars.getAll(all);
    for (size_t i = 0; i < all.size(); i += 2)
      if (equalsNoCase(all[i], name)) return all[i];
    return {};
  }

  Engine engine;
};

TEST(SetVariableTest, NamesValuesAndPersistence) {
  CommandRun r({{"Set Variable", "$PLAIN$", "one"},
            {"Set Variable", "lower", "$PLAIN$-two"},
            {"Set Variable", "KEPT$ZORN$ZORN$TRUE", "kept"},
            {"Set Variable", "$KEPT$$ZORN$ZORN$TRUE", "again"},
            {"Set Variable", "NOTKEPT$ZORN$ZORN$FALSE", "x"},
            {"Set Variable", "ALSONOT$ZORN$ZORN$true", "x"},
            {"Set Variable", "SELF", "$self$"}});
  r.run();
  EXPECT_EQ(r.var("PLAIN"), "one");
  EXPECT_FALSE(r.has("$PLAIN$"));
  EXPECT_EQ(r.var("LOWER"), "one-two");
  EXPECT_EQ(r.storedName("lower"), "LOWER");  // a new variable gets the upper-cased name
  EXPECT_EQ(r.var("KEPT"), "again");
  EXPECT_EQ(r.engine.persistentVariables, std::vector<std::string>{"KEPT"});  // once, exactly "TRUE" only
  EXPECT_EQ(r.var("NOTKEPT"), "x");
  EXPECT_EQ(r.var("SELF"), "");  // a value naming the variable itself is empty
}

TEST(SetVariableTest, AbortRequestsAndWithdrawsTheCancel) {
  CommandRun r({{"Set Variable", "ABORT", "TRUE"}});
  r.run();
  EXPECT_EQ(r.var("ZORN_IsCancelled"), "TRUE");
  CommandRun w({{"Set Variable", "ZORN_IsCancelled", "TRUE"}, {"Set Variable", "abort", "FALSE"}});
  w.run();
  EXPECT_EQ(w.var("ZORN_IsCancelled"), "FALSE");
}

TEST(SetVariableTest, TimeoutTakesIntegersElseTen) {
  const std::pair<const char*, int> cases[] = {{"30", 30}, {"0", 0}, {"soon", 10}, {"99999999999", 10}, {"", 10}};
  for (const auto& [value, expected] : cases) {
    CommandRun r({{"Set Variable", "ZORN_TIMEOUT", "45"}, {"Set Variable", "zorn_timeout", value}});
    r.run();
    EXPECT_EQ(r.engine.downloadTimeoutSeconds, expected) << value;
  }
}

TEST(EnvironmentTest, ExpandsOneNameOrListsTheBlock) {
  SetEnvironmentVariableW(L"ORV_TEXT_TEST", L"hello world");
  CommandRun r({{"Set Variable", "WHICH", "ORV_TEXT_TEST"},
            {"Get Environment", "$WHICH$", "$one$"},
            {"Get Environment", "ORV_SURELY_UNDEFINED", "MISSING"},
            {"Get Environment", "", "ALL"}});
  r.run();
  EXPECT_EQ(r.var("ONE"), "hello world");
  EXPECT_EQ(r.storedName("one"), "ONE");
  EXPECT_EQ(r.var("MISSING"), "%ORV_SURELY_UNDEFINED%");
  const std::string all = r.var("ALL");
  EXPECT_NE(all.find("ORV_TEXT_TEST=hello world"), std::string::npos);
  EXPECT_EQ(all.find("\r\n"), std::string::npos);
  EXPECT_NE(all.find("$NEWLINE$"), std::string::npos);
  EXPECT_NE(all.substr(all.size() - 9), "$NEWLINE$");
  SetEnvironmentVariableW(L"ORV_TEXT_TEST", nullptr);
}

TEST(TemporaryFileTest, CreatesAnEmptyFileInTempdir) {
  const std::string folder = tempFolder() + "orv-text-commands\\";
  deleteTree(folder);
  ASSERT_TRUE(createFolders(folder));
  CommandRun r(Lines{{"Get Temporary File", "$TMPFILE$"}});
  r.engine.vars.setValue("TEMPDIR", folder);
  r.run();
  const std::string file = r.var("TMPFILE");
  EXPECT_EQ(folderOf(file), folder);
  EXPECT_TRUE(startsWithNoCase(fileNameOf(file), "orv"));
  EXPECT_TRUE(endsWithNoCase(file, ".tmp"));
  EXPECT_EQ(fileSize(file), 0);

  CommandRun missing(Lines{{"Get Temporary File", "TMPFILE"}});
  missing.engine.vars.setValue("TEMPDIR", folder + "not here\\");
  missing.run();
  EXPECT_TRUE(missing.has("TMPFILE"));
  EXPECT_EQ(missing.var("TMPFILE"), "");
  deleteTree(folder);
}

TEST(ReplaceStringTest, ReplacesWithTheFlagsAndKeepsLineBreakTokens) {
  struct Case {
    const char* find;
    const char* with;
    const char* ignoreCase;
    const char* all;
    const char* expected;
  };
  const Case cases[] = {
      {"line", "row", "FALSE", "TRUE", "row one$NEWLINE$row two$NEWLINE$Line three"},
      {"line", "row", "TRUE", "TRUE", "row one$NEWLINE$row two$NEWLINE$row three"},  // tokens stay whole
      {"line", "row", "FALSE", "FALSE", "row one$NEWLINE$line two$NEWLINE$Line three"},
      {"$NL$", " / ", "FALSE", "TRUE", "line one / line two / Line three"},  // a line break to find
      {"$WHAT$", "[$WITH$]", "-1", "-1", "[x] one$NEWLINE$[x] two$NEWLINE$[x] three"},
      {"$NL$", "$NEWLINE$", "FALSE", "FALSE", "line one$NEWLINE$line two$NEWLINE$Line three"},
  };
  for (const Case& c : cases) {
    CommandRun r({{"Replace String", "$TEXT$", c.find, c.with, c.ignoreCase, c.all}});
    r.engine.vars.setValue("TEXT", "line one\r\nline two\r\nLine three");
    r.engine.vars.setValue("NL", "\r\n");
    r.engine.vars.setValue("WHAT", "LINE");
    r.engine.vars.setValue("WITH", "x");
    r.run();
    EXPECT_EQ(r.var("TEXT"), c.expected) << c.find;
  }
}

TEST(ConvertCaseTest, NormalizesThenMapsCase) {
  CommandRun r({{"Convert Case", "UP", "TRUE"}, {"Convert Case", "DOWN", "FALSE"}});
  r.engine.vars.setValue("DIR", "Ärger");
  r.engine.vars.setValue("UP", "c:\\$DIR$\\\\sub\\file");
  r.engine.vars.setValue("DOWN", "\\\\Server\\\\Ölfass\\ΣΑ");
  r.run();
  EXPECT_EQ(r.var("UP"), "C:\\ÄRGER\\SUB\\FILE");
  EXPECT_EQ(r.var("DOWN"), "\\\\server\\ölfass\\σα");
}

class ConvertPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = tempFolder() + "orv-convert-path\\";
    deleteTree(root);
    ASSERT_TRUE(createFolders(root + "Long Folder Name"));
    ASSERT_TRUE(writeWholeFile(root + "Long Folder Name\\Some Long File.text", "x"));
  }
  void TearDown() override { deleteTree(root); }

  std::string convert(const std::string& value, const char* shortForm) {
    CommandRun r({{"Convert Path", "P", shortForm}});
    r.engine.vars.setValue("EXEDIR", root);
    r.engine.vars.setValue("SETUPPATH", "$EXEDIR$");
    r.engine.vars.setValue("P", value);
    r.run();
    return r.var("P");
  }

  std::string root;
};

TEST_F(ConvertPathTest, LongFormTakesTheNamesOnDisk) {
  const std::string file = root + "Long Folder Name\\Some Long File.text";
  EXPECT_EQ(convert(file.substr(0, 3) + lower(file.substr(3)), "FALSE"), file);  // the drive stays as written
  EXPECT_EQ(convert("long folder name\\.\\..\\LONG FOLDER NAME\\some long file.text", "FALSE"), file);  // relative
  SetEnvironmentVariableW(L"ORV_CONVERT_DIR", widen(root).c_str());
  EXPECT_EQ(convert("%ORV_CONVERT_DIR%long folder name", "FALSE"), root + "Long Folder Name");
  SetEnvironmentVariableW(L"ORV_CONVERT_DIR", nullptr);
  EXPECT_EQ(convert(root + "Not There\\x.txt", "FALSE"), "");
  EXPECT_EQ(convert(root + "Long*", "FALSE"), "");
}

TEST_F(ConvertPathTest, ShortFormNamesTheSameFile) {
  const std::string file = root + "Long Folder Name\\Some Long File.text";
  const std::string shortForm = convert(file, "TRUE");
  ASSERT_FALSE(shortForm.empty());
  EXPECT_LE(fileNameOf(shortForm).size(), 12u);  // 8.3 (Wine's own hashed forms, so no exact name)
  EXPECT_EQ(convert(shortForm, "FALSE"), file);
  EXPECT_EQ(convert(root + "missing", "TRUE"), "");
}

TEST(ExtractPathTest, NormalizesAndRaisesForANonIntegerPart) {
  struct Case {
    const char* part;
    const char* expected;
  };
  const Case cases[] = {{"0", "setup.tar.gz"}, {"1", "setup.tar"}, {"2", "gz"},      {"3", "C:\\Program Files\\App\\"},
                        {"4", "C:\\Program Files\\"}, {"5", "C:\\"}, {"9", "C:\\Program Files\\App\\setup.tar.gz"}};
  for (const Case& c : cases) {
    CommandRun r({{"Extract Path", "P", c.part}});
    r.engine.vars.setValue("DIR", "C:\\Program Files\\\\App");
    r.engine.vars.setValue("P", "$DIR$\\setup.tar.gz");
    r.run();
    EXPECT_EQ(r.var("P"), c.expected) << c.part;
  }
  CommandRun bad({{"Extract Path", "P", "x"}});
  EXPECT_THROW(bad.run(), std::exception);
}

TEST(ParseStringTest, DefinesBothPartsFromTheNormalizedSource) {
  CommandRun r({{"Parse String", "$SRC$", "\\", "head", "TAIL", "1", "FALSE", "FALSE"},
            {"Parse String", "  Key = Value  ", "=", "K", "V", "0", "TRUE", "FALSE"},
            {"Parse String", "NAME=x", "name=", "", "REST", "0", "FALSE", "TRUE"},
            {"Parse String", "abc", "x", "NONE1", "NONE2", "2", "FALSE", "FALSE"}});
  r.engine.vars.setValue("SRC", "C:\\\\Folder\\File.txt");
  r.run();
  EXPECT_EQ(r.var("HEAD"), "C:\\Folder");
  EXPECT_EQ(r.storedName("head"), "HEAD");
  EXPECT_EQ(r.var("TAIL"), "File.txt");
  EXPECT_EQ(r.var("K"), "Key");
  EXPECT_EQ(r.var("V"), "Value");
  EXPECT_EQ(r.var("REST"), "x");
  EXPECT_TRUE(r.has("NONE1"));  // defined empty when the split has no position
  EXPECT_EQ(r.var("NONE2"), "");

  CommandRun bad({{"Parse String", "abc", "b", "A", "B", "first", "FALSE", "FALSE"}});
  EXPECT_THROW(bad.run(), std::exception);
}

TEST(EvaluateExpressionTest, WritesTrueFalseOrError) {
  CommandRun r({{"Evaluate Expression", "$A$ = \"abc\" and $N$ > \"9\"", "r1"},
            {"Evaluate Expression", "$A$ = \"abc\" AND $N$ > \"9\"", "R2"},
            {"Evaluate Expression", "$N$ < \"9\"", "R3"}});
  r.engine.vars.setValue("A", "abc");
  r.engine.vars.setValue("N", "10");
  r.run();
  EXPECT_EQ(r.var("R1"), "TRUE");
  EXPECT_EQ(r.storedName("r1"), "R1");
  EXPECT_EQ(r.var("R2"), "ERROR");
  EXPECT_EQ(r.var("R3"), "FALSE");

  CommandRun range({{"Evaluate Expression", "$N$ = \"1\"", "R"}});
  range.engine.vars.setValue("N", "4294967296");
  EXPECT_THROW(range.run(), std::exception);
}

TEST(MathematicsCommandTest, ExpandsOperandsAndKeepsTheGeneratorAcrossLines) {
  CommandRun r({{"Mathematics", "$X$", "2", "3", "Q"},
            {"Mathematics", "$X$", "0", "3", "DIV0"},
            {"Mathematics", "66", "", "12", "CH"},
            {"Mathematics", "5", "7", "13", "SEED"},
            {"Mathematics", "3", "", "14", ""},
            {"Mathematics", "1000", "", "15", "R1"},
            {"Mathematics", "1000", "", "15", "R2"}});
  r.engine.vars.setValue("X", "-7");
  r.run();
  EXPECT_EQ(r.var("Q"), "-3");
  EXPECT_TRUE(r.has("DIV0"));
  EXPECT_EQ(r.var("DIV0"), "");
  EXPECT_EQ(r.var("CH"), "B");
  EXPECT_EQ(r.var("SEED"), "12");
  // X = 5 * 3 + 7 = 22, state 22; then X = 5 * 22 + 7 = 117.
  EXPECT_EQ(r.var("R1"), "22");
  EXPECT_EQ(r.var("R2"), "117");
  EXPECT_EQ(r.engine.random.state, 117);
}

TEST(LineConditionTest, ReadsTheLinesParameters) {
  struct Case {
    std::vector<std::string> line;
    bool expected;
  };
  const Case cases[] = {
      {{"If", "$WIZARD$", "0", "CANCEL", "FALSE"}, true},
      {{"If", "WIZARD", "0", "$EXPECTED$", "TRUE"}, false},
      {{"Else If", "VERSION", "6", "1.9.9", "FALSE"}, true},
      {{"While", "$VERSION$", "5", "", "FALSE"}, false},
      {{"Until", "COUNT", "2", "9", "FALSE"}, true},
  };
  for (const Case& c : cases) {
    CommandRun r({c.line});
    r.engine.vars.setValue("WIZARD", "CANCEL");
    r.engine.vars.setValue("EXPECTED", "CANCEL");
    r.engine.vars.setValue("VERSION", "2.0");
    r.engine.vars.setValue("COUNT", "10");
    EXPECT_EQ(lineConditionHolds(CommandContext(r.engine, 1)), c.expected) << c.line[1];
  }
  CommandRun bad({{"If", "V", "6", "1.x.3", "FALSE"}});
  EXPECT_THROW(lineConditionHolds(CommandContext(bad.engine, 1)), std::exception);
}

}  // namespace
}  // namespace orv
