#include "core/script_check_flow.h"

#include "core/text.h"

namespace orv {

LineKind lineKindOf(std::string_view command) {
  static const std::unordered_map<std::string_view, LineKind> kinds = {
      {"Comment", LineKind::Comment},
      {"Ignore", LineKind::Ignore},
      {"If", LineKind::If},
      {"Else If", LineKind::ElseIf},
      {"Else", LineKind::Else},
      {"End", LineKind::End},
      {"While", LineKind::While},
      {"Wend", LineKind::Wend},
      {"Repeat", LineKind::Repeat},
      {"Until", LineKind::Until},
      {"For Each", LineKind::ForEach},
      {"Next", LineKind::Next},
      {"Break", LineKind::Break},
      {"Continue", LineKind::Continue},
      {"Label", LineKind::Label},
      {"GoTo Label", LineKind::GoToLabel},
      {"Wizard Loop", LineKind::WizardLoop},
      {"Display Dialog", LineKind::DisplayDialog},
      {"Terminate Install", LineKind::TerminateInstall},
      {"Terminate with Exit Code", LineKind::TerminateWithExitCode},
  };
  const auto it = kinds.find(command);
  return it == kinds.end() ? LineKind::Other : it->second;
}

bool isLoopOpener(LineKind k) { return k == LineKind::While || k == LineKind::Repeat || k == LineKind::ForEach; }
bool isLoopCloser(LineKind k) { return k == LineKind::Wend || k == LineKind::Until || k == LineKind::Next; }

LineKind closerOf(LineKind opener) {
  switch (opener) {
    case LineKind::While: return LineKind::Wend;
    case LineKind::Repeat: return LineKind::Until;
    case LineKind::ForEach: return LineKind::Next;
    default: return LineKind::Other;
  }
}

LineKind openerOf(LineKind closer) {
  switch (closer) {
    case LineKind::Wend: return LineKind::While;
    case LineKind::Until: return LineKind::Repeat;
    case LineKind::Next: return LineKind::ForEach;
    default: return LineKind::Other;
  }
}

int ScriptFlow::loopSlot(LineKind kind) {
  switch (kind) {
    case LineKind::While:
    case LineKind::Wend: return 0;
    case LineKind::Repeat:
    case LineKind::Until: return 1;
    case LineKind::ForEach:
    case LineKind::Next: return 2;
    default: return -1;
  }
}

ScriptFlow::ScriptFlow(const SetupImage& image, const ImageIndex& index)
    : count_(static_cast<uint32_t>(image.lineCount())) {
  kinds_.assign(count_ + 2, LineKind::Other);
  disabled_.assign(count_ + 2, 0);
  for (uint32_t line = 1; line <= count_; ++line) {
    kinds_[line] = lineKindOf(image.commands[line - 1]);
    disabled_[line] = index.isDisabled(line - 1) ? 1 : 0;
  }
  mapSteps();
  mapBranches();
  mapLoops();
  for (uint32_t line = 1; line <= count_; ++line) {
    if (image.commands[line - 1] == "Label")  // disabled labels are jump targets too
      labels_.emplace(upper(index.parameterOfLine(line - 1, 1)), line);
  }
}

void ScriptFlow::mapSteps() {
  step_.assign(count_ + 1, 0);
  if (count_ == 0) return;
  // From the end backwards: the step after i is i + 1 unless that line is skipped.
  uint32_t next = count_;  // the last line ends the skipping
  for (uint32_t i = count_; i-- > 0;) {
    const uint32_t candidate = i + 1;
    const bool skipped = disabled(candidate) || kinds_[candidate] == LineKind::Ignore;
    if (candidate == count_ || !skipped) next = candidate;
    step_[i] = next;
  }
}

// The branch scans count "If" and "Wizard Loop" up and "End" down. A scan starting at line j stops at
// the first stop line k >= j whose nesting level equals that of j, so one pass from the end with the
// nearest stop per level answers every start.
void ScriptFlow::mapBranches() {
  std::vector<int32_t> level(count_ + 2, 0);
  int32_t lowest = 0, highest = 0;
  for (uint32_t line = 1; line <= count_; ++line) {
    int32_t change = 0;
    if (!disabled(line)) {
      if (kinds_[line] == LineKind::If || kinds_[line] == LineKind::WizardLoop) change = 1;
      if (kinds_[line] == LineKind::End) change = -1;
    }
    level[line + 1] = level[line] + change;
    lowest = std::min(lowest, level[line + 1]);
    highest = std::max(highest, level[line + 1]);
  }
  std::vector<uint32_t> nearestBranch(size_t(highest - lowest) + 1, kNoLine);
  std::vector<uint32_t> nearestEnd(nearestBranch.size(), kNoLine);
  branch_.assign(count_ + 2, kNoLine);
  end_.assign(count_ + 2, kNoLine);
  for (uint32_t line = count_; line >= 1; --line) {
    const size_t slot = size_t(level[line] - lowest);
    const LineKind k = kinds_[line];
    if (!disabled(line) && (k == LineKind::Else || k == LineKind::ElseIf || k == LineKind::End))
      nearestBranch[slot] = line;
    if (!disabled(line) && k == LineKind::End) nearestEnd[slot] = line;
    branch_[line] = nearestBranch[slot];
    end_[line] = nearestEnd[slot];
  }
}

// Loop scans pass a nested loop whole, so a scan's answer from line j is either j itself (the target),
// the answer from the line after (or before) j, or the answer from beyond the nested loop that opens
// (or closes) at j. Forward answers are filled from the end, backward ones from the start.
void ScriptFlow::mapLoops() {
  for (auto& v : closerFrom_) v.assign(count_ + 2, kNoLine);
  for (auto& v : openerFrom_) v.assign(count_ + 2, kNoLine);

  for (uint32_t line = count_; line >= 1; --line) {
    const LineKind k = kinds_[line];
    uint32_t resumeAt = line + 1;  // where a scan passing this line continues
    if (!disabled(line) && isLoopOpener(k)) {
      const uint32_t own = closerFrom_[loopSlot(k)][line + 1];
      resumeAt = own == kNoLine ? kNoLine : own + 1;
    }
    for (int slot = 0; slot < kLoopKinds; ++slot) {
      if (!disabled(line) && isLoopCloser(k) && loopSlot(k) == slot)
        closerFrom_[slot][line] = line;
      else
        closerFrom_[slot][line] = resumeAt == kNoLine ? kNoLine : closerFrom_[slot][resumeAt];
    }
  }

  for (uint32_t line = 1; line <= count_; ++line) {
    const LineKind k = kinds_[line];
    uint32_t resumeAt = line - 1;
    bool runsOff = false;
    if (!disabled(line) && isLoopCloser(k)) {
      const uint32_t own = openerFrom_[loopSlot(k)][line - 1];
      runsOff = own == kNoLine;
      resumeAt = runsOff ? 0 : own - 1;
    }
    for (int slot = 0; slot < kLoopKinds; ++slot) {
      if (!disabled(line) && isLoopOpener(k) && loopSlot(k) == slot)
        openerFrom_[slot][line] = line;
      else
        openerFrom_[slot][line] = runsOff ? kNoLine : openerFrom_[slot][resumeAt];
    }
  }
}

uint32_t ScriptFlow::closerAfter(uint32_t line, LineKind closer) const {
  const int slot = loopSlot(closer);
  if (slot < 0 || !isLoopCloser(closer) || line >= count_) return kNoLine;
  return closerFrom_[slot][line + 1];
}

uint32_t ScriptFlow::openerBefore(uint32_t line, LineKind opener) const {
  const int slot = loopSlot(opener);
  if (slot < 0 || !isLoopOpener(opener) || line <= 1 || line > count_ + 1) return kNoLine;
  return openerFrom_[slot][line - 1];
}

uint32_t ScriptFlow::labelLine(const std::string& upperName) const {
  const auto it = labels_.find(upperName);
  return it == labels_.end() ? kNoLine : it->second;
}

}  // namespace orv
