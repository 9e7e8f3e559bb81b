// The control-flow map must answer exactly what the interpreter's line-by-line scans would find. The
// scans are written out here as the reference and compared on many random scripts, balanced or not.
#include <gtest/gtest.h>

#include <random>

#include "core/script_check_flow.h"
#include "script_image.h"

namespace orv {
namespace {

using Lines = std::vector<std::vector<std::string>>;

// The scans as the interpreter would run them on the command table.
class ReferenceScans {
 public:
  explicit ReferenceScans(const SetupImage& image) : image_(image), n_(uint32_t(image.lineCount())) {}

  uint32_t step(uint32_t cur) const {
    if (cur >= n_) return cur + 1;
    uint32_t j = cur + 1;
    while (j < n_ && (off(j) || kind(j) == LineKind::Ignore)) ++j;
    return j;
  }

  uint32_t branch(uint32_t cur, bool passElse) const {
    int depth = 0;
    for (uint32_t k = cur + 1; k <= n_; ++k) {
      if (off(k)) continue;
      const LineKind c = kind(k);
      if (c == LineKind::If || c == LineKind::WizardLoop) ++depth;
      if (c == LineKind::End && depth-- == 0) return k;
      if (!passElse && (c == LineKind::Else || c == LineKind::ElseIf) && depth == 0) return k;
    }
    return kNoLine;
  }

  uint32_t forward(uint32_t cur, LineKind target) const {
    for (uint32_t k = cur + 1; k <= n_;) {
      if (off(k)) {
        ++k;
      } else if (kind(k) == target) {
        return k;
      } else if (isLoopOpener(kind(k))) {
        const uint32_t own = forward(k, closerOf(kind(k)));
        if (own == kNoLine) return kNoLine;
        k = own + 1;
      } else {
        ++k;
      }
    }
    return kNoLine;
  }

  uint32_t backward(uint32_t cur, LineKind target) const {
    for (uint32_t k = cur - 1; k >= 1 && k <= n_;) {
      if (off(k)) {
        --k;
      } else if (kind(k) == target) {
        return k;
      } else if (isLoopCloser(kind(k))) {
        const uint32_t own = backward(k, openerOf(kind(k)));
        if (own == kNoLine) return kNoLine;
        k = own - 1;
      } else {
        --k;
      }
    }
    return kNoLine;
  }

 private:
  bool off(uint32_t line) const { return image_.disabled[line - 1] == "C"; }
  LineKind kind(uint32_t line) const { return lineKindOf(image_.commands[line - 1]); }
  const SetupImage& image_;
  uint32_t n_;
};

Lines randomScript(std::mt19937& rng) {
  static const char* kCommands[] = {"If",   "Else If", "Else",  "End",      "While",       "Wend",
                                    "Repeat", "Until", "For Each", "Next", "Wizard Loop", "Ignore",
                                    "Set Variable", "Break", "Comment"};
  std::uniform_int_distribution<int> length(0, 40), command(0, std::size(kCommands) - 1), percent(0, 99);
  Lines lines;
  const int n = length(rng);
  for (int i = 0; i < n; ++i) {
    std::string c = kCommands[command(rng)];
    if (percent(rng) < 15) c = "//" + c;
    lines.push_back({c});
  }
  return lines;
}

TEST(ScriptFlowTest, AnswersWhatTheScansFindOnRandomScripts) {
  std::mt19937 rng(20240613);
  for (int round = 0; round < 3000; ++round) {
    const Lines lines = randomScript(rng);
    const SetupImage image = test::scriptLines(lines);
    const ImageIndex index(image);
    const ScriptFlow flow(image, index);
    const ReferenceScans ref(image);
    const uint32_t n = uint32_t(lines.size());
    for (uint32_t cur = 0; cur <= n + 1; ++cur) {
      SCOPED_TRACE("round " + std::to_string(round) + " line " + std::to_string(cur));
      ASSERT_EQ(flow.stepAfter(cur), ref.step(cur));
      ASSERT_EQ(flow.branchAfter(cur), ref.branch(cur, false));
      ASSERT_EQ(flow.blockEndAfter(cur), ref.branch(cur, true));
      for (LineKind closer : {LineKind::Wend, LineKind::Until, LineKind::Next})
        ASSERT_EQ(flow.closerAfter(cur, closer), ref.forward(cur, closer));
      for (LineKind opener : {LineKind::While, LineKind::Repeat, LineKind::ForEach})
        ASSERT_EQ(flow.openerBefore(cur, opener), cur == 0 ? kNoLine : ref.backward(cur, opener));
    }
  }
}

TEST(ScriptFlowTest, NestedLoopsArePassedWhole) {
  const Lines lines = {{"While"},  {"Repeat"}, {"While"}, {"Wend"},  {"Until"},
                       {"//Wend"}, {"Break"},  {"Wend"},  {"Ignore"}};
  const SetupImage image = test::scriptLines(lines);
  const ImageIndex index(image);
  const ScriptFlow flow(image, index);
  EXPECT_EQ(flow.closerAfter(1, LineKind::Wend), 8u);   // the inner pair and the disabled Wend are passed
  EXPECT_EQ(flow.closerAfter(7, LineKind::Wend), 8u);   // Break to its loop's closer
  EXPECT_EQ(flow.openerBefore(8, LineKind::While), 1u);
  EXPECT_EQ(flow.openerBefore(5, LineKind::Repeat), 2u);
  EXPECT_EQ(flow.closerAfter(8, LineKind::Wend), kNoLine);  // runs off the end
  EXPECT_EQ(flow.stepAfter(8), 9u);  // the last line ends the skipping, even an ignored one
  EXPECT_EQ(flow.stepAfter(9), 10u);
}

TEST(ScriptFlowTest, BranchScansCountIfsAndWizardLoopsOnly) {
  const Lines lines = {{"If"},   {"If"},   {"Else"},  {"//End"}, {"End"},     {"Wizard Loop"},
                       {"End"},  {"Else If"}, {"Compiler Variable End"}, {"End"}};
  const SetupImage image = test::scriptLines(lines);
  const ImageIndex index(image);
  const ScriptFlow flow(image, index);
  EXPECT_EQ(flow.branchAfter(1), 8u);   // the nested If with its Else, and the wizard loop, are passed
  EXPECT_EQ(flow.blockEndAfter(1), 10u);
  EXPECT_EQ(flow.branchAfter(2), 3u);
  EXPECT_EQ(flow.blockEndAfter(3), 5u);  // the disabled End is invisible
}

TEST(ScriptFlowTest, LabelsAreFoundByTheirUpperCaseNameDisabledOrNot) {
  const Lines lines = {{"Label", "Start"}, {"//Label", "Off"}, {"Label", "Ünïcode"}};
  const SetupImage image = test::scriptLines(lines);
  const ImageIndex index(image);
  const ScriptFlow flow(image, index);
  EXPECT_EQ(flow.labelLine("START"), 1u);
  EXPECT_EQ(flow.labelLine("OFF"), 2u);
  EXPECT_EQ(flow.labelLine("ÜNÏCODE"), 3u);
  EXPECT_EQ(flow.labelLine("Start"), kNoLine);
}

}  // namespace
}  // namespace orv
