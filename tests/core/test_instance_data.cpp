#include <gtest/gtest.h>

#include "core/instance_data.h"
#include "core/variables.h"

namespace orv {
namespace {

InstanceData sampleData() {
  InstanceData d;
  d.names = {"ZORN-PREDEF-COMPONENT", "Tools", "Tools\\Samples"};
  d.states = {"TRUE", "TRUE", "FALSE"};
  d.deleted = {"Legacy"};
  d.hidden = {"Tools\\Samples"};
  d.fixed = {};
  d.sizes = {"TOOLS", "1536000"};
  d.targetDir = "C:\\Program Files\\Démo\\";
  d.allUsers = "TRUE";
  d.startMenu = "Démo";
  d.dataFolder = "C:\\SETUP~1\\data\\";
  d.variables = {{"SERIAL", "12-34"}, {"NOTES", "first\r\nsecond"}};
  d.platform = "x64";
  d.settings = {{"OVERRIDECACHE", ""}, {"NATIVE_ENGINE", "TRUE"}};
  return d;
}

const char* const kSampleText =
    "ZORN-PREDEF-COMPONENT\r\nTools\r\nTools\\Samples\r\n$\r\n"
    "TRUE\r\nTRUE\r\nFALSE\r\n$\r\n"
    "Legacy\r\n$\r\n"
    "Tools\\Samples\r\n$\r\n"
    "$\r\n"
    "TOOLS\r\n1536000\r\n$\r\n"
    "C:\\Program Files\\Démo\\\r\nTRUE\r\nDémo\r\nC:\\SETUP~1\\data\\\r\n"
    "SERIAL\r\n12-34\r\nNOTES\r\nfirst$NEWLINE$second\r\n"
    "ZORN64WOW\r\nx64\r\nOVERRIDECACHE\r\n\r\nNATIVE_ENGINE\r\nTRUE\r\n";

TEST(InstanceData, FullFormHasTheFourteenSectionsInOrder) {
  EXPECT_EQ(formatInstanceData(sampleData()), kSampleText);
}

TEST(InstanceData, ReadsBackWhatItWrote) {
  const InstanceData d = parseInstanceData(kSampleText);
  const InstanceData expected = sampleData();
  EXPECT_EQ(d.names, expected.names);
  EXPECT_EQ(d.states, expected.states);
  EXPECT_EQ(d.deleted, expected.deleted);
  EXPECT_EQ(d.hidden, expected.hidden);
  EXPECT_TRUE(d.fixed.empty());
  EXPECT_EQ(d.sizes, expected.sizes);
  EXPECT_EQ(d.targetDir, expected.targetDir);
  EXPECT_EQ(d.allUsers, "TRUE");
  EXPECT_EQ(d.startMenu, expected.startMenu);
  EXPECT_EQ(d.dataFolder, expected.dataFolder);
  EXPECT_EQ(d.platform, "x64");
  EXPECT_EQ(d.settings, expected.settings);
  ASSERT_EQ(d.variables.size(), 2u);
  EXPECT_EQ(d.variables[1].second, "first$NEWLINE$second");
}

TEST(InstanceData, AMultiLineValueReadsBackAsTheSameTextAfterExpansion) {
  VariableStore vars;
  vars.setValue("NEWLINE", "\r\n");
  const InstanceData d = parseInstanceData(formatInstanceData(sampleData()));
  vars.setValue("NOTES", d.variables[1].second);
  EXPECT_EQ(vars.expand("$NOTES$"), "first\r\nsecond");
}

TEST(InstanceData, ALoneLineFeedOrCarriageReturnStaysInsideItsValue) {
  InstanceData d = sampleData();
  d.variables = {{"A", "x\ny"}, {"B", "ends in\r"}, {"C", "\rstarts"}};
  const InstanceData back = parseInstanceData(formatInstanceData(d));
  EXPECT_EQ(back.variables, d.variables);
}

TEST(InstanceData, PairsAfterThePlatformSettingsAreRememberedAgain) {
  const InstanceData d = parseInstanceData(
      "$\r\n$\r\n$\r\n$\r\n$\r\n$\r\nT\r\nFALSE\r\nS\r\n\r\n"
      "A\r\n1\r\nzorn64wow\r\nWin32\r\nOVERRIDECACHE\r\nC:\\c\\\r\nNATIVE_ENGINE\r\nFALSE\r\nB\r\n2\r\n");
  EXPECT_EQ(d.variables, (std::vector<NamedValue>{{"A", "1"}, {"B", "2"}}));
  EXPECT_EQ(d.platform, "Win32");
  EXPECT_EQ(d.settings, (std::vector<NamedValue>{{"OVERRIDECACHE", "C:\\c\\"}, {"NATIVE_ENGINE", "FALSE"}}));
}

TEST(InstanceData, AFileWithoutPairsOrFinalLineEndReads) {
  const InstanceData d = parseInstanceData("A\r\n$\r\nTRUE\r\n$\r\n$\r\n$\r\n$\r\n$\r\nT\r\nTRUE\r\nS\r\nC:\\d\\");
  EXPECT_EQ(d.names, std::vector<std::string>{"A"});
  EXPECT_EQ(d.dataFolder, "C:\\d\\");
  EXPECT_TRUE(d.variables.empty());
  EXPECT_FALSE(d.platform);
}

TEST(InstanceData, MalformedFilesAreRefusedWithTheReason) {
  const struct {
    const char* text;
    const char* reason;
  } cases[] = {
      {"", "after 0 of their six lists"},
      {"A\r\n$\r\nTRUE\r\n$\r\n$\r\n", "after 3 of their six lists"},
      {"A\r\n$\r\nTRUE\r\nTRUE\r\n$\r\n$\r\n$\r\n$\r\n$\r\nT\r\nTRUE\r\nS\r\n\r\n", "more selection states"},
      {"$\r\n$\r\n$\r\n$\r\n$\r\nA\r\n$\r\nT\r\nTRUE\r\nS\r\n\r\n", "name without a size"},
      {"$\r\n$\r\n$\r\n$\r\n$\r\n$\r\nT\r\nTRUE\r\n", "lack the target folder"},
      {"$\r\n$\r\n$\r\n$\r\n$\r\n$\r\nT\r\nTRUE\r\nS\r\n\r\nX\r\n1\r\nORPHAN\r\n", "\"ORPHAN\" has no value"},
      {"\xEF\xBB\xBF\x00\x01garbage", "after 0 of their six lists"},
  };
  for (const auto& c : cases) {
    try {
      parseInstanceData(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const InstanceDataError& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
    }
  }
}

TEST(InstanceData, AListItemThatReadsAsTheEndLineIsRefused) {
  InstanceData d;
  d.hidden = {"$"};
  EXPECT_THROW(formatInstanceData(d), InstanceDataError);
}

TEST(InstanceData, UpdateFormKeepsTheFirstTenItemsAndReplacesTheVariables) {
  const std::string updated =
      updatedInstanceData(kSampleText, {{"SERIAL", "99"}, {"NEW", "a\r\nb"}}, "Win32", "D:\\c\\", "FALSE");
  const std::string fixedPart = std::string(kSampleText).substr(0, std::string(kSampleText).find("SERIAL"));
  EXPECT_EQ(updated, fixedPart +
                         "SERIAL\r\n99\r\nNEW\r\na$NEWLINE$b\r\n"
                         "ZORN64WOW\r\nWin32\r\nOVERRIDECACHE\r\nD:\\c\\\r\nNATIVE_ENGINE\r\nFALSE\r\n");
}

TEST(InstanceData, UpdateFormRefusesAFileWithoutItsFixedPart) {
  EXPECT_THROW(updatedInstanceData("$\r\n$\r\n$\r\n$\r\n$\r\n$\r\nT\r\nTRUE\r\n", {}, "Win32", "", ""),
               InstanceDataError);
  EXPECT_THROW(updatedInstanceData("junk", {}, "Win32", "", ""), InstanceDataError);
}

class MergeComponents : public ::testing::Test {
 protected:
  void SetUp() override {
    current.define("Tools", "", true);
    current.define("Docs", "", true);
    current.sizes = {"TOOLS", "100", "Docs", "0"};
    current.hidden = {"Docs"};
    loaded.names = {"TOOLS", "Extra"};
    loaded.states = {"FALSE", "TRUE"};
    loaded.deleted = {"Docs"};
    loaded.sizes = {"Tools", "999", "Extra", "50"};
  }
  ComponentLists current;
  InstanceData loaded;
};

TEST_F(MergeComponents, FullLoadAppendsListsAndSizesAndEarlierSizesWin) {
  mergeComponents(current, loaded, InstanceLoadMode::Full);
  EXPECT_EQ(current.names, (std::vector<std::string>{"Tools", "Docs", "TOOLS", "Extra"}));
  EXPECT_EQ(current.states, (std::vector<std::string>{"TRUE", "TRUE", "FALSE", "TRUE"}));
  EXPECT_EQ(current.sizeOf("tools"), 100);
  EXPECT_EQ(current.sizeOf("Extra"), 50);
  EXPECT_EQ(current.hidden, std::vector<std::string>{"Docs"});
  EXPECT_TRUE(current.isDeleted("docs"));
}

TEST_F(MergeComponents, OldDataDropsTheSizes) {
  mergeComponents(current, loaded, InstanceLoadMode::OldData);
  EXPECT_EQ(current.names.size(), 4u);
  EXPECT_EQ(current.sizeOf("Extra"), 0);
}

TEST_F(MergeComponents, UpdateCopiesStatesOfDefinedComponentsAndReplacesTheMarkLists) {
  mergeComponents(current, loaded, InstanceLoadMode::Update);
  EXPECT_EQ(current.names, (std::vector<std::string>{"Tools", "Docs"}));
  EXPECT_EQ(current.states, (std::vector<std::string>{"FALSE", "TRUE"}));
  EXPECT_EQ(current.deleted, std::vector<std::string>{"Docs"});
  EXPECT_TRUE(current.hidden.empty());
  EXPECT_EQ(current.sizeOf("Extra"), 0);
}

TEST_F(MergeComponents, FewerStatesThanNamesKeepTheListsParallel) {
  loaded.states = {"FALSE"};
  mergeComponents(current, loaded, InstanceLoadMode::Full);
  current.define("Late", "", true);
  EXPECT_EQ(current.states, (std::vector<std::string>{"TRUE", "TRUE", "FALSE", "", "TRUE"}));
}

TEST(ComponentLists, DefineKeepsALoadedStateAndUndeletes) {
  ComponentLists c;
  InstanceData loaded;
  loaded.names = {"Tools"};
  loaded.states = {"FALSE"};
  loaded.deleted = {"tools"};
  mergeComponents(c, loaded, InstanceLoadMode::Full);
  c.define("Tools", "The tools", true);
  EXPECT_EQ(c.states, std::vector<std::string>{"FALSE"});
  EXPECT_EQ(c.descriptions, std::vector<std::string>{"The tools"});
  EXPECT_FALSE(c.isDeleted("Tools"));
  EXPECT_EQ(c.sizes, (std::vector<std::string>{"Tools", "0"}));
}

TEST(ComponentLists, SelectedSizeLeavesOutDeletedAndUnselectedAndSurvivesBadNumbers) {
  ComponentLists c;
  c.sizes = {"A", "10", "B", "20", "C", "40", "D", "lots"};
  for (const char* n : {"A", "B", "C", "D"}) c.define(n, "", true);
  c.states[1] = "false";
  c.deleted = {"c"};
  EXPECT_EQ(c.selectedSize(), 10);
  c.clearKeepingSizes();
  EXPECT_TRUE(c.names.empty());
  EXPECT_EQ(c.sizeOf("B"), 20);
}

TEST(InstanceFile, AnsiWhenTheCodePageCarriesTheTextElseMarkedUtf8) {
  const struct {
    std::string text;
    std::string bytes;
  } cases[] = {
      {"Démo\r\n", "D\xE9mo\r\n"},
      {"Δοκιμή\r\n", "\xEF\xBB\xBF" "Δοκιμή\r\n"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encodeInstanceFile(c.text, 1252), c.bytes);
    EXPECT_EQ(decodeInstanceFile(c.bytes, 1252), c.text);
  }
}

TEST(InstanceFile, LineListsReadBackItemForItem) {
  const std::vector<std::string> lists[] = {{}, {""}, {"A", ""}, {"name", "value", "x"}};
  for (const auto& list : lists) EXPECT_EQ(parseLines(formatLines(list)), list);
}

TEST(InstanceIdentity, ReadsTheCodesAndTitle) {
  const InstanceIdentity id{"{A}", "{B}", "Démo 2"};
  const auto back = parseInstanceIdentity(formatInstanceIdentity(id));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->productCode, "{A}");
  EXPECT_EQ(back->revisionCode, "{B}");
  EXPECT_EQ(back->title, "Démo 2");
}

TEST(InstanceIdentity, RefusesFilesWithoutTwoCodes) {
  for (const char* text : {"", "{A}\r\n", "A\r\n{B}\r\nT\r\n", "{A}\r\n\r\nT\r\n", "{}\r\n{B}\r\n"})
    EXPECT_FALSE(parseInstanceIdentity(text)) << text;
  const auto untitled = parseInstanceIdentity("{A}\r\n{B}");
  ASSERT_TRUE(untitled);
  EXPECT_EQ(untitled->title, "");
}

}  // namespace
}  // namespace orv
