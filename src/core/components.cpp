#include "core/components.h"

#include <algorithm>
#include <limits>

#include "core/text.h"

namespace orv {
namespace {

constexpr int64_t kMegabyte = 1048576;
constexpr int64_t kGigabyte = 1073741824;

bool listHas(const std::vector<std::string>& list, std::string_view name) {
  return std::any_of(list.begin(), list.end(), [&](const std::string& item) { return equalsNoCase(item, name); });
}

// Every entry goes: a name listed twice (as a merged file may hold it) must not stay marked.
void removeAll(std::vector<std::string>& list, std::string_view name) {
  std::erase_if(list, [&](const std::string& item) { return equalsNoCase(item, name); });
}

// The name or one of its parent levels (the name cut at its last backslash, repeatedly) is listed.
bool listedInEffect(const std::vector<std::string>& list, std::string_view name) {
  for (;;) {
    if (listHas(list, name)) return true;
    const size_t cut = name.rfind('\\');
    if (cut == std::string_view::npos) return false;
    name = name.substr(0, cut);
  }
}

int64_t saturatingAdd(int64_t a, int64_t b) {
  int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  return sum;
}

int64_t saturatingSubtract(int64_t a, int64_t b) {
  int64_t difference = 0;
  if (__builtin_sub_overflow(a, b, &difference))
    return b < 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  return difference;
}

std::string groupedThousands(uint64_t value) {
  std::string digits = std::to_string(value);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

std::vector<std::string> levelsOf(std::string_view name) { return split(name, "\\"); }

FeatureNode& childNamed(std::vector<FeatureNode>& level, const std::string& text) {
  for (FeatureNode& node : level)
    if (equalsNoCase(node.text, text)) return node;
  level.push_back(FeatureNode{text, -1, {}});
  return level.back();
}

const FeatureNode* nodeAt(const std::vector<FeatureNode>& roots, const std::vector<size_t>& path) {
  const std::vector<FeatureNode>* level = &roots;
  const FeatureNode* node = nullptr;
  for (size_t index : path) {
    if (index >= level->size()) return nullptr;
    node = &(*level)[index];
    level = &node->children;
  }
  return node;
}

// Whether any component in the subtree below the node is selected, and whether any is not.
void collectChildStates(const ComponentLists& lists, const FeatureNode& node, bool& anySelected, bool& anyUnselected) {
  for (const FeatureNode& child : node.children) {
    if (child.component >= 0) (lists.isSelectedAt(size_t(child.component)) ? anySelected : anyUnselected) = true;
    collectChildStates(lists, child, anySelected, anyUnselected);
  }
}

}  // namespace

int64_t ComponentLists::indexOf(std::string_view name) const {
  for (size_t i = 0; i < names.size(); ++i)
    if (equalsNoCase(names[i], name)) return int64_t(i);
  return -1;
}

int64_t ComponentLists::sizeOf(std::string_view name) const {
  for (size_t i = 0; i + 1 < sizes.size(); i += 2)
    if (equalsNoCase(sizes[i], name)) return toInt64Or(sizes[i + 1], 0);
  return 0;
}

std::string ComponentLists::description(std::string_view name) const {
  const int64_t at = indexOf(name);
  return at >= 0 && size_t(at) < descriptions.size() ? descriptions[size_t(at)] : std::string();
}

bool ComponentLists::isDeleted(std::string_view name) const { return listHas(deleted, name); }
bool ComponentLists::fixedInEffect(std::string_view name) const { return listedInEffect(fixed, name); }
bool ComponentLists::hiddenInEffect(std::string_view name) const { return listedInEffect(hidden, name); }

bool ComponentLists::isSelectedAt(size_t index) const {
  return index < states.size() && equalsNoCase(states[index], "TRUE");
}

bool ComponentLists::isSelected(std::string_view name) const {
  const int64_t at = indexOf(name);
  return at >= 0 && !isDeleted(name) && isSelectedAt(size_t(at));
}

void ComponentLists::define(std::string_view name, std::string_view description, bool selected) {
  bool sized = false;
  for (size_t i = 0; i + 1 < sizes.size() && !sized; i += 2) sized = equalsNoCase(sizes[i], name);
  if (!sized) {
    sizes.emplace_back(name);
    sizes.emplace_back("0");
  }
  const int64_t at = indexOf(name);
  if (at < 0) {
    names.emplace_back(name);
    states.resize(names.size() - 1);
    states.emplace_back(boolText(selected));
    descriptions.resize(names.size() - 1);
    descriptions.emplace_back(description);
    return;
  }
  const size_t i = size_t(at);
  if (auto it = std::find_if(deleted.begin(), deleted.end(), [&](const std::string& d) { return equalsNoCase(d, name); });
      it != deleted.end())
    deleted.erase(it);
  if (descriptions.size() <= i) descriptions.resize(i + 1);
  descriptions[i] = std::string(description);
  if (states.size() <= i) states.resize(i + 1);
  if (states[i].empty()) states[i] = boolText(selected);
}

void ComponentLists::defineTranslated(std::string_view written, std::string_view translated,
                                      std::string_view description, bool selected) {
  if (translated != written) {
    if (const int64_t size = sizeOf(written); size != 0) {
      sizes.emplace_back(translated);
      sizes.emplace_back(std::to_string(size));
    }
  }
  define(translated, description, selected);
}

bool ComponentLists::setState(std::string_view name, bool selected) {
  const int64_t at = indexOf(name);
  if (at < 0) return false;
  states.resize(std::max(states.size(), names.size()));
  states[size_t(at)] = boolText(selected);
  return true;
}

bool ComponentLists::setSize(std::string_view name, std::string_view bytes) {
  int64_t size = 0;
  if (!exists(name) || !parseInt64(bytes, size)) return false;
  for (size_t i = 0; i + 1 < sizes.size(); i += 2)
    if (equalsNoCase(sizes[i], name)) {
      sizes[i + 1] = std::to_string(size);
      return true;
    }
  sizes.emplace_back(name);
  sizes.emplace_back(std::to_string(size));
  return true;
}

bool ComponentLists::setChangeable(std::string_view name, bool changeable) {
  if (changeable) {
    removeAll(fixed, name);
    return true;
  }
  if (!exists(name)) return false;
  if (!listHas(fixed, name)) fixed.emplace_back(name);
  return true;
}

bool ComponentLists::setVisible(std::string_view name, bool visible) {
  if (visible) {
    removeAll(hidden, name);
    return true;
  }
  if (!exists(name)) return false;
  if (!listHas(hidden, name)) hidden.emplace_back(name);
  return true;
}

bool ComponentLists::markDeleted(std::string_view name) {
  if (!exists(name)) return false;
  if (!isDeleted(name)) deleted.emplace_back(name);
  return true;
}

void ComponentLists::clearKeepingSizes() {
  std::vector<std::string> kept = std::move(sizes);
  *this = ComponentLists{};
  sizes = std::move(kept);
}

int64_t ComponentLists::selectedSize() const {
  int64_t total = 0;
  for (size_t i = 0; i < names.size(); ++i)
    if (isSelectedAt(i) && !isDeleted(names[i])) total = saturatingAdd(total, sizeOf(names[i]));
  return total;
}

int64_t ComponentLists::requiredSize() const { return saturatingSubtract(selectedSize(), installedSize); }

std::string formatSize(int64_t bytes, const SizeUnits& units) {
  if (bytes < kMegabyte) {
    const uint64_t magnitude = bytes < 0 ? uint64_t(0) - uint64_t(bytes) : uint64_t(bytes);
    return (bytes < 0 ? "-" : "") + groupedThousands(magnitude) + " " + std::string(units.bytes);
  }
  if (bytes < kGigabyte) return groupedThousands(uint64_t(bytes / 1024)) + " " + std::string(units.kilobytes);
  return groupedThousands(uint64_t(bytes / kMegabyte)) + " " + std::string(units.megabytes);
}

std::vector<FeatureNode> featureTree(const ComponentLists& lists) {
  std::vector<FeatureNode> roots;
  for (size_t i = 0; i < lists.names.size(); ++i) {
    const std::string& name = lists.names[i];
    if (equalsNoCase(name, kPredefinedComponent) || lists.isDeleted(name) || lists.hiddenInEffect(name)) continue;
    std::vector<FeatureNode>* level = &roots;
    FeatureNode* node = nullptr;
    for (const std::string& part : levelsOf(name)) {
      node = &childNamed(*level, part);
      level = &node->children;
    }
    if (node) node->component = int64_t(i);
  }
  return roots;
}

FeatureCheck featureCheck(const ComponentLists& lists, const FeatureNode& node) {
  bool anySelected = false, anyUnselected = false;
  collectChildStates(lists, node, anySelected, anyUnselected);
  if (node.component < 0) {
    if (anySelected && anyUnselected) return FeatureCheck::Mixed;
    return anySelected ? FeatureCheck::Selected : FeatureCheck::Unselected;
  }
  const bool selected = lists.isSelectedAt(size_t(node.component));
  if (selected ? anyUnselected : anySelected) return FeatureCheck::Mixed;
  return selected ? FeatureCheck::Selected : FeatureCheck::Unselected;
}

std::string featurePathName(const std::vector<FeatureNode>& roots, const std::vector<size_t>& path) {
  std::string name;
  const std::vector<FeatureNode>* level = &roots;
  for (size_t index : path) {
    if (index >= level->size()) return {};
    if (!name.empty()) name += '\\';
    name += (*level)[index].text;
    level = &(*level)[index].children;
  }
  return name;
}

void setFeatureNodeState(ComponentLists& lists, const FeatureNode& node, bool recursive, bool selected) {
  if (node.component >= 0) lists.setState(lists.names[size_t(node.component)], selected);
  if (!recursive) return;
  for (const FeatureNode& child : node.children)
    if (child.component < 0 || !lists.fixedInEffect(lists.names[size_t(child.component)]))
      setFeatureNodeState(lists, child, true, selected);
}

bool featureMenuOffered(const ComponentLists& lists, const std::vector<FeatureNode>& roots,
                        const std::vector<size_t>& path) {
  const FeatureNode* node = nodeAt(roots, path);
  if (!node) return false;
  const std::string name = node->component >= 0 ? lists.names[size_t(node->component)] : featurePathName(roots, path);
  return !lists.fixedInEffect(name);
}

bool applyFeatureMenu(ComponentLists& lists, const std::vector<FeatureNode>& roots, const std::vector<size_t>& path,
                      FeatureMenuAction action) {
  const FeatureNode* node = path.empty() ? nullptr : nodeAt(roots, path);
  if (!node) return false;
  const bool install = action == FeatureMenuAction::InstallNode || action == FeatureMenuAction::InstallSubtree;
  const bool subtree = action == FeatureMenuAction::InstallSubtree || action == FeatureMenuAction::RemoveSubtree;
  setFeatureNodeState(lists, *node, subtree, install);
  if (install)
    for (size_t depth = path.size() - 1; depth > 0; --depth)
      setFeatureNodeState(lists, *nodeAt(roots, std::vector<size_t>(path.begin(), path.begin() + depth)), false, true);
  return true;
}

std::vector<ChecklistItem> featureChecklist(const ComponentLists& lists) {
  std::vector<ChecklistItem> items;
  for (size_t i = 0; i < lists.names.size(); ++i) {
    const std::string& name = lists.names[i];
    if (equalsNoCase(name, kPredefinedComponent) || lists.isDeleted(name) || listHas(lists.hidden, name) ||
        name.find('\\') != std::string::npos)
      continue;
    items.push_back({name, lists.isSelectedAt(i)});
  }
  return items;
}

void applyFeatureChecklist(ComponentLists& lists, std::vector<ChecklistItem>& items) {
  for (const ChecklistItem& item : items)
    for (const std::string& name : lists.names)
      if (startsWithNoCase(name, item.text) && !lists.fixedInEffect(name)) lists.setState(name, item.checked);
  // Marks are read only after every item is applied: a later item may have changed an earlier one's
  // component through the leading-letter match.
  for (ChecklistItem& item : items)
    if (const int64_t own = lists.indexOf(item.text); own >= 0) item.checked = lists.isSelectedAt(size_t(own));
}

}  // namespace orv
