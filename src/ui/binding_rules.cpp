#include "ui/binding_rules.h"

#include <algorithm>
#include <limits>

#include "core/text.h"

namespace orv {
namespace {

// Cuts the text before `delimiter` off `rest` (the delimiter goes too); false when it is missing.
bool takeUntil(std::string_view& rest, std::string_view delimiter, std::string& piece) {
  const size_t at = rest.find(delimiter);
  if (at == std::string_view::npos) return false;
  piece.assign(rest.substr(0, at));
  rest.remove_prefix(at + delimiter.size());
  return true;
}

std::string groupedDigits(uint64_t n) {
  std::string digits = std::to_string(n);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<size_t>(at), ",");
  return digits;
}

// A path's root ("C:\", "\\server\share\") is what stays when none of its folders exists.
size_t rootLength(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') return path.size() >= 3 && path[2] == '\\' ? 3 : 2;
  if (path.rfind("\\\\", 0) == 0) {
    size_t at = path.find('\\', 2);
    if (at != std::string_view::npos) at = path.find('\\', at + 1);
    return at == std::string_view::npos ? path.size() : at + 1;
  }
  return 0;
}

}  // namespace

std::optional<DialogRule> parseDialogRule(std::string_view item) {
  if (item.size() < 4) return std::nullopt;
  std::string_view rest = item.substr(4);
  DialogRule rule;
  rule.equal = rest.find(" <> ") == std::string_view::npos;
  const std::string_view comparison = rule.equal ? " = " : " <> ";
  if (!takeUntil(rest, ".", rule.sourceComponent) || !takeUntil(rest, comparison, rule.sourceProperty) ||
      !takeUntil(rest, ")  THEN  ", rule.comparedValue) || !takeUntil(rest, ".", rule.targetComponent) ||
      !takeUntil(rest, " := ", rule.targetProperty) || !takeUntil(rest, ";", rule.newValue))
    return std::nullopt;
  return rule;
}

std::vector<std::string> ruleItemsOfFile(std::string_view fileText) {
  std::vector<std::string> items;
  for (std::string& line : split(replaceAll(fileText, "\r\n", "\n", false), "\n")) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!trim(line).empty()) items.push_back(std::move(line));
  }
  return items;
}

TargetSnapshot takeTargetSnapshot(std::string_view target, const std::string& existingBase) {
  TargetSnapshot s;
  s.target.assign(target);
  std::string base = existingBase;
  while (!base.empty() && base.back() == '\\') base.pop_back();
  size_t cut = 0;
  if (!base.empty() && startsWithNoCase(target, base)) cut = base.size();
  else if (base.empty()) cut = rootLength(target);  // nothing exists: keep the folders below the root
  std::string_view tail = target.substr(std::min(cut, target.size()));
  while (!tail.empty() && tail.front() == '\\') tail.remove_prefix(1);
  s.tail.assign(tail);
  return s;
}

std::string browsedTarget(const TargetSnapshot& snapshot, std::string_view chosen) {
  if (chosen.empty()) return {};
  if (!snapshot.target.empty() && startsWithNoCase(snapshot.target, chosen)) return snapshot.target;
  return withTrailingBackslash(chosen) + snapshot.tail;
}

std::string sizeText(int64_t bytes, std::string_view bytesWord, std::string_view kbWord, std::string_view mbWord) {
  const bool negative = bytes < 0;
  const uint64_t magnitude = negative ? uint64_t(0) - static_cast<uint64_t>(bytes) : static_cast<uint64_t>(bytes);
  std::string_view unit = bytesWord;
  uint64_t shown = magnitude;
  if (magnitude >= 1073741824u) {
    shown = magnitude / 1048576u;
    unit = mbWord;
  } else if (magnitude >= 1048576u) {
    shown = magnitude / 1024u;
    unit = kbWord;
  }
  return (negative ? "-" : "") + groupedDigits(shown) + " " + std::string(unit);
}

int progressPercent(std::string_view value) {
  int64_t n = 0;
  if (!parseInt64(value, n)) return 100;
  return static_cast<int>(std::clamp<int64_t>(n, 0, 100));
}

BarRange barRange(int64_t minimum, int64_t maximum, int64_t position) {
  if (maximum >= (int64_t(1) << 31)) return {minimum / 1024, maximum / 1024, position / 1024};
  return {minimum, maximum, position};
}

TaskbarView taskbarView(std::string_view progressMode, std::string_view customEnabled, std::string_view customPercent,
                        std::string_view customMax, int64_t position, int64_t maximum) {
  TaskbarView view;
  if (progressMode == "MARQUEE") {
    view.state = TaskbarState::Indeterminate;
  } else if (equalsNoCase(customEnabled, "TRUE")) {
    int64_t done = 0, total = 0;
    // Custom values that are not numbers leave the button's value as it is.
    if (parseInt64(customPercent, done) && parseInt64(customMax, total))
      view.value = {static_cast<uint64_t>(std::max<int64_t>(done, 0)), static_cast<uint64_t>(std::max<int64_t>(total, 0))};
  } else {
    view.value = {static_cast<uint64_t>(std::max<int64_t>(position, 0)), static_cast<uint64_t>(std::max<int64_t>(maximum, 0))};
  }
  if (progressMode == "ERROR") view.state = TaskbarState::Error;
  else if (progressMode == "PAUSE") view.state = TaskbarState::Paused;
  return view;
}

std::string joinedItems(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += item + "\r\n";
  return text;
}

std::vector<std::string> nonEmptyLines(std::string_view text) {
  std::vector<std::string> lines;
  for (std::string& line : split(replaceAll(text, "\r\n", "\n", false), "\n"))
    if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

}  // namespace orv
