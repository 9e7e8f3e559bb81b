// The control-flow map of a checked script: every block partner and label target the interpreter
// needs, found once so that no jump rescans the script. Each answer equals what the interpreter's
// line-by-line scans would find (disabled lines invisible, nested loops passed whole, the branch
// scans counting "If" and "Wizard Loop" against "End"), including where such a scan would run off the
// script, which is reported as kNoLine.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/image.h"

namespace orv {

// What the interpreter itself does with a line; every other command is a handler's.
enum class LineKind : uint8_t {
  Other,
  Comment,
  Ignore,
  If,
  ElseIf,
  Else,
  End,
  While,
  Wend,
  Repeat,
  Until,
  ForEach,
  Next,
  Break,
  Continue,
  Label,
  GoToLabel,
  WizardLoop,
  DisplayDialog,
  TerminateInstall,
  TerminateWithExitCode,
};

LineKind lineKindOf(std::string_view command);

// The three loop kinds by their opener and closer.
bool isLoopOpener(LineKind kind);
bool isLoopCloser(LineKind kind);
LineKind closerOf(LineKind opener);
LineKind openerOf(LineKind closer);

inline constexpr uint32_t kNoLine = 0;

// Lines are numbered from 1 as the interpreter counts them; 0 stands before the first line.
class ScriptFlow {
 public:
  ScriptFlow(const SetupImage& image, const ImageIndex& index);

  uint32_t lineCount() const { return count_; }
  LineKind kind(uint32_t line) const { return kinds_[line]; }
  bool disabled(uint32_t line) const { return disabled_[line] != 0; }

  // The normal step after `line`: the next line that is neither disabled nor "Ignore", stopping at the
  // last line; beyond the last line once that was passed.
  uint32_t stepAfter(uint32_t line) const { return line < count_ ? step_[line] : line + 1; }
  // After a false condition at `line`: its block's next "Else", "Else If" or closing "End".
  uint32_t branchAfter(uint32_t line) const { return branch_[line + 1 <= count_ ? line + 1 : count_ + 1]; }
  // After a taken branch ended at `line`: its block's closing "End".
  uint32_t blockEndAfter(uint32_t line) const { return end_[line + 1 <= count_ ? line + 1 : count_ + 1]; }
  // The first `closer` ("Wend", "Until", "Next") after `line`, nested loops passed whole.
  uint32_t closerAfter(uint32_t line, LineKind closer) const;
  // The first `opener` ("While", "Repeat", "For Each") before `line`, nested loops passed whole.
  uint32_t openerBefore(uint32_t line, LineKind opener) const;
  // The line number of a label (name upper-cased as written in "GoTo Label"), or kNoLine.
  uint32_t labelLine(const std::string& upperName) const;

 private:
  static constexpr int kLoopKinds = 3;
  static int loopSlot(LineKind kind);  // 0 While/Wend, 1 Repeat/Until, 2 For Each/Next
  void mapSteps();
  void mapBranches();
  void mapLoops();

  uint32_t count_ = 0;
  std::vector<LineKind> kinds_;           // [0] unused
  std::vector<uint8_t> disabled_;         // [0] unused
  std::vector<uint32_t> step_;            // [0..count-1]
  std::vector<uint32_t> branch_, end_;    // scan starting at [1..count+1]
  std::vector<uint32_t> closerFrom_[kLoopKinds];  // scan starting at [1..count+1], inclusive
  std::vector<uint32_t> openerFrom_[kLoopKinds];  // scan starting at [0..count], inclusive, downwards
  std::unordered_map<std::string, uint32_t> labels_;
};

}  // namespace orv
