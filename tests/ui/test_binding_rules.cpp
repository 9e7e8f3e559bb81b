// The platform-free rules of the page binding: dialog rules, browse targets, size texts, progress values
// and the taskbar view.
#include <gtest/gtest.h>

#include <set>

#include "ui/binding_rules.h"

namespace orv {
namespace {

TEST(BindingRules, DialogRulesParse) {
  struct Case {
    const char* item;
    bool parses;
    DialogRule rule;
  };
  const Case cases[] = {
      {"IF (AgreeCheck.Checked = True)  THEN  NextButton.Enabled := True;", true,
       {"AgreeCheck", "Checked", true, "True", "NextButton", "Enabled", "True"}},
      {"IF (Name.Text <> )  THEN  NextButton.Enabled := Other.Enabled;", true,
       {"Name", "Text", false, "", "NextButton", "Enabled", "Other.Enabled"}},
      {"IF (Mode.Text = a = b)  THEN  X.Caption := c;", true, {"Mode", "Text", true, "a = b", "X", "Caption", "c"}},
      {"IF (A.Checked = True) THEN B.Enabled := True;", false, {}},  // one space around THEN
      {"IF (A.Checked = True)  THEN  B.Enabled := True", false, {}},  // no closing semicolon
      {"IF (AChecked = True)  THEN  B.Enabled := True;", false, {}},
      {"IF", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    const std::optional<DialogRule> rule = parseDialogRule(c.item);
    ASSERT_EQ(rule.has_value(), c.parses);
    if (!rule) continue;
    EXPECT_EQ(rule->sourceComponent, c.rule.sourceComponent);
    EXPECT_EQ(rule->sourceProperty, c.rule.sourceProperty);
    EXPECT_EQ(rule->equal, c.rule.equal);
    EXPECT_EQ(rule->comparedValue, c.rule.comparedValue);
    EXPECT_EQ(rule->targetComponent, c.rule.targetComponent);
    EXPECT_EQ(rule->targetProperty, c.rule.targetProperty);
    EXPECT_EQ(rule->newValue, c.rule.newValue);
  }
}

TEST(BindingRules, RulesFileHoldsOneRulePerLine) {
  EXPECT_EQ(ruleItemsOfFile("IF (A.B = 1)  THEN  C.D := 2;\r\n\r\nIF (E.F = 3)  THEN  G.H := 4;\n  \n"),
            (std::vector<std::string>{"IF (A.B = 1)  THEN  C.D := 2;", "IF (E.F = 3)  THEN  G.H := 4;"}));
  EXPECT_TRUE(ruleItemsOfFile("").empty());
}

TEST(BindingRules, BrowsedTargetKeepsTheTailBelowTheExistingBase) {
  const std::set<std::string> existing = {"C:\\", "C:\\Program Files", "D:\\"};
  auto exists = [&](const std::string& p) { return existing.count(p) != 0; };
  struct Case {
    const char* target;
    const char* chosen;
    const char* expected;
  };
  const Case cases[] = {
      {"C:\\Program Files\\Vendor\\Lumen", "D:\\Apps", "D:\\Apps\\Vendor\\Lumen"},
      {"C:\\Program Files\\Vendor\\Lumen", "D:\\Apps\\", "D:\\Apps\\Vendor\\Lumen"},
      {"C:\\Program Files\\Vendor\\Lumen", "C:\\Program Files", "C:\\Program Files\\Vendor\\Lumen"},
      {"C:\\Program Files\\Vendor\\Lumen", "c:\\program files", "C:\\Program Files\\Vendor\\Lumen"},
      {"C:\\Program Files\\Vendor\\Lumen\\", "E:\\", "E:\\Vendor\\Lumen\\"},
      {"C:\\Program Files\\Vendor\\Lumen", "", ""},
      {"C:\\Program Files", "D:\\Apps", "D:\\Apps\\"},
      // Nothing of the target exists: its folders below the root move to the chosen folder.
      {"Q:\\Vendor\\Lumen", "D:\\Apps", "D:\\Apps\\Vendor\\Lumen"},
      {"", "D:\\Apps", "D:\\Apps\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.target) + " <- " + c.chosen);
    const TargetSnapshot snapshot = takeTargetSnapshot(c.target, existingBase(c.target, exists));
    EXPECT_EQ(browsedTarget(snapshot, c.chosen), c.expected);
  }
  EXPECT_EQ(existingBase("C:\\Program Files\\Vendor\\Lumen\\", exists), "C:\\Program Files");
  EXPECT_EQ(existingBase("Q:\\Vendor", exists), "");
}

TEST(BindingRules, SizeTexts) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0 bytes"},
      {999, "999 bytes"},
      {1048575, "1,048,575 bytes"},
      {1048576, "1,024 KB"},
      {1073741823, "1,048,575 KB"},
      {1073741824, "1,024 MB"},
      {5000000000, "4,768 MB"},
      {-1, "-1 bytes"},
      {-2097152, "-2,048 KB"},
      {INT64_MIN, "-8,796,093,022,208 MB"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(sizeText(bytes), text) << bytes;
}

TEST(BindingRules, ProgressValues) {
  const std::pair<const char*, int> percents[] = {{"40", 40}, {"0", 0}, {"-5", 0}, {"250", 100}, {"abc", 100}, {"", 100}};
  for (const auto& [value, percent] : percents) EXPECT_EQ(progressPercent(value), percent) << value;

  const BarRange big = barRange(0, 5000000000, 2500000000);
  EXPECT_EQ(big.maximum, 4882812);
  EXPECT_EQ(big.position, 2441406);
  const BarRange small = barRange(1, 2147483647, 7);
  EXPECT_EQ(small.maximum, 2147483647);
  EXPECT_EQ(small.position, 7);
}

TEST(BindingRules, TaskbarMirrorsTheModeAndTheValues) {
  using Value = std::optional<std::pair<uint64_t, uint64_t>>;
  struct Case {
    const char* name;
    const char* mode;
    const char* customEnabled;
    const char* percent;
    const char* max;
    TaskbarState state;
    Value value;
  };
  const Case cases[] = {
      {"normal", "", "FALSE", "0", "100", TaskbarState::Normal, std::make_pair(40u, 80u)},
      {"marquee", "MARQUEE", "FALSE", "0", "100", TaskbarState::Indeterminate, std::nullopt},
      {"custom values", "", "true", "30", "60", TaskbarState::Normal, std::make_pair(30u, 60u)},
      {"custom values that are no numbers", "", "TRUE", "x", "60", TaskbarState::Normal, std::nullopt},
      {"error keeps the value", "ERROR", "FALSE", "0", "100", TaskbarState::Error, std::make_pair(40u, 80u)},
      {"paused", "PAUSE", "FALSE", "0", "100", TaskbarState::Paused, std::make_pair(40u, 80u)},
      {"modes are exact", "marquee", "FALSE", "0", "100", TaskbarState::Normal, std::make_pair(40u, 80u)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TaskbarView view = taskbarView(c.mode, c.customEnabled, c.percent, c.max, 40, 80);
    EXPECT_EQ(view.state, c.state);
    EXPECT_EQ(view.value, c.value);
  }
}

TEST(BindingRules, ListTexts) {
  EXPECT_EQ(joinedItems({"A", "B"}), "A\r\nB\r\n");
  EXPECT_EQ(joinedItems({}), "");
  EXPECT_EQ(nonEmptyLines("one\r\n\r\ntwo\nthree\r\n"), (std::vector<std::string>{"one", "two", "three"}));
}

}  // namespace
}  // namespace orv
