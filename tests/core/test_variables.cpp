#include <gtest/gtest.h>

#include <thread>

#include "core/variables.h"

namespace orv {
namespace {

struct ExpandCase {
  const char* text;
  const char* expected;
};

class ExpandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vars.setValue("TARGETDIR", "C:\\App");
    vars.setValue("B", "y");
    vars.setValue("A", "x$B$");
    vars.setValue("DOLLAR", "$");
    vars.setValue("Name With Blank", "spaced");
  }
  VariableStore vars;
};

TEST_F(ExpandTest, FollowsTheRescanningRules) {
  const ExpandCase cases[] = {
      {"Path: $TARGETDIR$\\$TITLE$", "Path: C:\\App\\$TITLE$"},  // undefined stays literal
      {"$A$", "xy"},                                             // values are expanded in turn
      {"$a$", "xy"},                                             // names ignore case
      {"$$", "$$"},                                              // empty name is never replaced
      {"$A$B$", "xyB$"},
      {"$X$B$", "$Xy"},  // the closing "$" of a missing name opens the next token
      {"no dollars", "no dollars"},
      {"lone $ sign", "lone $ sign"},
      {"$DOLLAR$B$", "y"},  // a "$" inside a value pairs with a later "$" of the text
      {"$Name With Blank$", "spaced"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(vars.expand(c.text), c.expected) << c.text;
}

TEST_F(ExpandTest, QuotedFormQuotesEachSubstitution) {
  EXPECT_EQ(vars.expandQuoted("$B$ = $TARGETDIR$"), "\"y\" = \"C:\\App\"");
  EXPECT_EQ(vars.expandQuoted("$A$"), "\"x\"y\"\"");
  vars.setValue("SAID", "he said \"hi\"");
  EXPECT_EQ(vars.expandQuoted("$SAID$"), "\"he said \"\"hi\"\"\"");
}

TEST_F(ExpandTest, SelfReferenceIsBounded) {
  vars.setValue("LOOP", "x$LOOP$");
  const std::string r = vars.expand("$LOOP$");
  EXPECT_EQ(r.size(), kMaxSubstitutions + 6);  // one "x" per substitution, then the reference left as is
  EXPECT_EQ(r.substr(r.size() - 6), "$LOOP$");

  vars.setValue("TWICE", "$TWICE$$TWICE$");  // grows exponentially without a bound
  EXPECT_LE(vars.expand("$TWICE$").size(), kMaxExpandedBytes);
  vars.setValue("BIG", std::string(1 << 20, 'z') + "$BIG$");
  EXPECT_LE(vars.expand("$BIG$").size(), kMaxExpandedBytes);
}

TEST(VariableStoreTest, NamesKeepTheirFirstCaseAndExistenceDiffersFromEmpty) {
  VariableStore v;
  v.setValue("Mixed", "1");
  v.setValue("MIXED", "2");
  v.setValue("", "ignored");
  std::vector<std::string> lines;
  EXPECT_EQ(v.getAll(lines), 2u);
  EXPECT_EQ(lines[0], "Mixed");
  EXPECT_EQ(lines[1], "2");
  v.setValue("EMPTY", "");
  EXPECT_TRUE(v.exists("empty"));
  EXPECT_FALSE(v.exists("missing"));
  EXPECT_FALSE(v.exists(""));
  v.remove("mixed");
  EXPECT_FALSE(v.exists("Mixed"));
}

TEST(VariableStoreTest, DefineEmptiesOwnReference) {
  VariableStore v;
  v.defineVariable("X", "$x$", "Set Variable Action");
  EXPECT_TRUE(v.exists("X"));
  EXPECT_EQ(v.getValue("X"), "");
  v.defineVariable("X", "$Y$", "Set Variable Action");
  EXPECT_EQ(v.getValue("X"), "$Y$");
}

TEST(VariableStoreTest, CommandLineValuesAreProtectedOnlyInSilentRuns) {
  struct Case {
    bool silent;
    const char* reason;
    const char* expected;
  };
  const Case cases[] = {
      {true, "Set Variable Action", "1"},
      {false, "Set Variable Action", "2"},
      {true, "Inject Override Command Line", "2"},
  };
  for (const auto& c : cases) {
    VariableStore v;
    v.setCommandLineNames({"X"});
    v.defineVariable("X", "1", kInjectReason);
    v.setSilent(c.silent);
    v.updateVariable("x", "2", c.reason);
    EXPECT_EQ(v.getValue("X"), c.expected) << c.silent << " " << c.reason;
  }
}

TEST(VariableStoreTest, ReferencesResolve) {
  VariableStore v;
  v.setValue("A", "$B$!");
  v.setValue("B", "b");
  EXPECT_EQ(stripReference("$A$"), "A");
  EXPECT_EQ(stripReference("$A$B$"), "");
  EXPECT_EQ(stripReference("A"), "");
  EXPECT_EQ(v.resolveReference("$A$"), "b!");
  EXPECT_EQ(v.resolveReference("A"), "b!");
  EXPECT_EQ(v.resolveReference("$NOPE$"), "$ZORNNX$");
  EXPECT_EQ(v.resolveReference("$NOPE$", false), "");
  EXPECT_TRUE(v.isReferenceDefined("$A$", false));
  EXPECT_FALSE(v.isReferenceDefined("$NOPE$", true));
  EXPECT_TRUE(v.isReferenceDefined("literal", true));
  EXPECT_FALSE(v.isReferenceDefined("literal", false));
}

TEST(VariableStoreTest, ExpandPathCollapsesDoubledBackslashes) {
  VariableStore v;
  v.setValue("DIR", "C:\\App\\");
  v.setValue("UNC", "\\\\server\\share\\");
  EXPECT_EQ(v.expandPath("$DIR$\\bin"), "C:\\App\\bin");
  EXPECT_EQ(v.expandPath("$UNC$\\x"), "\\\\server\\share\\x");
  EXPECT_EQ(v.expandPath("a\\\\\\b"), "a\\\\b");
}

TEST(VariableStoreTest, SnapshotsRoundTripThroughCommaText) {
  VariableStore v;
  v.setValue("A", "has, comma and \"quotes\"");
  v.setValue("B", "");
  v.setValue("C", "line\r\nbreak");
  const std::string saved = v.saveVariables();
  VariableStore w;
  w.setValue("OLD", "gone");
  w.loadVariables(saved);
  EXPECT_FALSE(w.exists("OLD"));
  EXPECT_EQ(w.getValue("A"), "has, comma and \"quotes\"");
  EXPECT_TRUE(w.exists("B"));
  EXPECT_EQ(w.getValue("C"), "line\r\nbreak");
}

TEST(VariableStoreTest, NewlineMarkers) {
  EXPECT_EQ(newlineToText("a\r\nb"), "a$NEWLINE$b");
  EXPECT_EQ(textToNewline("a$newline$b$NEWLINE$"), "a\r\nb\r\n");
}

TEST(VariableStoreTest, ConcurrentWritersAndReaders) {
  VariableStore v;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&v, t] {
      for (int i = 0; i < 2000; ++i) {
        v.setValue("K" + std::to_string(i % 50), std::to_string(t));
        (void)v.expand("$K1$ $K2$");
        if (i % 7 == 0) v.remove("K" + std::to_string(i % 50));
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_LE(v.size(), 50u);
}

TEST(CompilerConstantsTest, ExpandsInTableOrderFirstWins) {
  const std::vector<std::pair<std::string, std::string>> constants = {
      {"TITLE", "Demo"}, {"TITLE", "Second"}, {"NESTED", "#TITLE# App"}, {"LOOP", "x#LOOP#"}};
  EXPECT_EQ(expandCompilerConstants("#title# v1", constants), "Demo v1");
  EXPECT_EQ(expandCompilerConstants("#SINGLEINSTANCE#", constants), "#SINGLEINSTANCE#");
  EXPECT_EQ(expandCompilerConstants("#NESTED#", constants), "Demo App");
  EXPECT_EQ(expandCompilerConstants("no hash", constants), "no hash");
  const std::string looped = expandCompilerConstants("#LOOP#", constants);  // bounded, never hangs
  EXPECT_EQ(looped, std::string(kMaxConstantPasses, 'x') + "#LOOP#");
}

}  // namespace
}  // namespace orv
