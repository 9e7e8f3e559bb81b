// The platform-free rules of the page binding: how dialog rules read, where a browse puts the target,
// how sizes and progress values are shown and what the taskbar mirrors. The window code applies them.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// One conditional property rule of a page ("IF (Src.Prop = Value)  THEN  Dst.Prop := New;").
struct DialogRule {
  std::string sourceComponent;
  std::string sourceProperty;
  bool equal = true;  // " = " (else " <> ")
  std::string comparedValue;
  std::string targetComponent;
  std::string targetProperty;
  std::string newValue;
};

// Parses one rule item: the first four characters are dropped, then each part is the text before its
// delimiter. Empty when a delimiter is missing (such a rule does nothing).
std::optional<DialogRule> parseDialogRule(std::string_view item);
// The rules of a rules file's text: one rule per line (the lines' comma text split again gives back the
// lines); blank lines are left out.
std::vector<std::string> ruleItemsOfFile(std::string_view fileText);

// Browse roles. The TARGETDIR snapshot of a shown page: the target, its longest existing ancestor and
// the tail below that ancestor.
struct TargetSnapshot {
  std::string target;  // TARGETDIR through ExpandPath
  std::string tail;    // the part of target below the existing base, without a leading backslash
};
// `folderExists` decides which ancestors exist.
template <typename Exists>
std::string existingBase(std::string path, Exists folderExists);
TargetSnapshot takeTargetSnapshot(std::string_view target, const std::string& existingBase);
// The new target after the user chose `chosen` with a browse role.
std::string browsedTarget(const TargetSnapshot& snapshot, std::string_view chosen);

// A byte count as the status texts show it: bytes below 1 MiB, KB below 1 GiB, else MB, digits grouped
// by "," and the unit after a blank.
std::string sizeText(int64_t bytes, std::string_view bytesWord = "bytes", std::string_view kbWord = "KB",
                     std::string_view mbWord = "MB");

// PROGRESS as a bar position: 0..100, a text that is no number gives 100.
int progressPercent(std::string_view value);

// A 64-bit range for a 32-bit bar: values of 2^31 and above are divided by 1024.
struct BarRange {
  int64_t minimum, maximum, position;
};
BarRange barRange(int64_t minimum, int64_t maximum, int64_t position);

// What the taskbar button shows.
enum class TaskbarState { Normal, Indeterminate, Error, Paused };
struct TaskbarView {
  TaskbarState state = TaskbarState::Normal;
  std::optional<std::pair<uint64_t, uint64_t>> value;  // completed, total
};
TaskbarView taskbarView(std::string_view progressMode, std::string_view customEnabled, std::string_view customPercent,
                        std::string_view customMax, int64_t position, int64_t maximum);

// The lines a list control writes: every item followed by CR LF.
std::string joinedItems(const std::vector<std::string>& items);
// The items of an Items/Lines text after expansion, empty ones removed.
std::vector<std::string> nonEmptyLines(std::string_view text);

template <typename Exists>
std::string existingBase(std::string path, Exists folderExists) {
  while (!path.empty() && !folderExists(path)) {
    while (!path.empty() && path.back() == '\\') path.pop_back();
    const size_t cut = path.rfind('\\');
    if (cut == std::string::npos) return {};
    path.resize(cut);
    if (!path.empty() && path.back() == ':') path += '\\';
  }
  return path;
}

}  // namespace orv
