// Components (shown to the user as features): named, selectable parts of the product kept as plain
// parallel lists. Installation never looks at them; the script asks for a component's state and runs or
// skips the lines that belong to it. A name may hold levels separated by backslashes ("Tools\Samples"
// is a child of "Tools"); the levels matter only to the feature tree and to the fixed and hidden tests.
//
// Every look-up by name ignores case. Components are never removed: "Delete Component" only marks them.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// Stands for the files that belong to no component: defined selected before every run, counted in
// sizes, never shown.
inline constexpr std::string_view kPredefinedComponent = "ZORN-PREDEF-COMPONENT";

struct ComponentLists {
  std::vector<std::string> names;
  std::vector<std::string> states;  // "TRUE"/"FALSE", parallel to names (empty while not yet decided)
  std::vector<std::string> descriptions;
  std::vector<std::string> sizes;  // pairs (name, decimal bytes); the first pair of a name wins
  std::vector<std::string> deleted;
  std::vector<std::string> hidden;
  std::vector<std::string> fixed;
  // In maintenance: what the components selected at start-up take, so the required size counts only
  // what a changed selection adds.
  int64_t installedSize = 0;

  int64_t indexOf(std::string_view name) const;  // -1 when not defined
  bool exists(std::string_view name) const { return indexOf(name) >= 0; }
  int64_t sizeOf(std::string_view name) const;  // 0 without a pair or with a bad number
  std::string description(std::string_view name) const;
  bool isDeleted(std::string_view name) const;
  // The component or one of its parent levels is in the fixed (hidden) list.
  bool fixedInEffect(std::string_view name) const;
  bool hiddenInEffect(std::string_view name) const;
  bool isSelectedAt(size_t index) const;
  // "Get Component State": defined, not deleted and selected.
  bool isSelected(std::string_view name) const;

  // Defines a component or refreshes an existing one (undeleted; a state loaded earlier is kept).
  void define(std::string_view name, std::string_view description, bool selected);
  // As define, for a name translated from `written`: the translation inherits the written name's size.
  void defineTranslated(std::string_view written, std::string_view translated, std::string_view description,
                        bool selected);
  // Each returns false and changes nothing for an unknown component (or a size that is not a number).
  bool setState(std::string_view name, bool selected);
  bool setSize(std::string_view name, std::string_view bytes);
  bool setChangeable(std::string_view name, bool changeable);  // "Set Component Choice"
  bool setVisible(std::string_view name, bool visible);        // "Set Component Visibility"
  bool markDeleted(std::string_view name);                     // "Delete Component"

  // Everything but the size table, which keeps the setup image's sizes across a new start.
  void clearKeepingSizes();
  // The sizes of the selected components that are not deleted (saturating, so hostile sizes cannot
  // wrap the sum around).
  int64_t selectedSize() const;
  // What the selection needs beyond what is installed; negative when it frees space.
  int64_t requiredSize() const;
};

// Display text of a byte count: bytes below 1 MB (and every negative value), KB below 1 GB, MB above;
// digits grouped by "," in threes.
struct SizeUnits {
  std::string_view bytes = "bytes", kilobytes = "KB", megabytes = "MB";
};
std::string formatSize(int64_t bytes, const SizeUnits& units = {});

// ---- Feature tree ----

struct FeatureNode {
  std::string text;        // this level's part of the name
  int64_t component = -1;  // index into the lists; -1 for a node that stands only for a path level
  std::vector<FeatureNode> children;
};

// The shown components in definition order, one node per level (levels matched ignoring case).
std::vector<FeatureNode> featureTree(const ComponentLists& lists);

// How a node's check box is drawn: its own state, or mixed when its subtree disagrees with it.
enum class FeatureCheck { Unselected, Selected, Mixed };
FeatureCheck featureCheck(const ComponentLists& lists, const FeatureNode& node);

// The node's full name, its levels from the root joined by "\"; `path` indexes children from the roots.
std::string featurePathName(const std::vector<FeatureNode>& roots, const std::vector<size_t>& path);

// Sets the node's component; when recursive, also every descendant whose component is not fixed in
// effect (path-level nodes are passed through).
void setFeatureNodeState(ComponentLists& lists, const FeatureNode& node, bool recursive, bool selected);

// The feature menu: the three shown entries and the two kept for older page designs.
enum class FeatureMenuAction {
  InstallNode,     // "Will be &installed on local hard drive"
  InstallSubtree,  // "&Entire feature will be installed on local hard drive"
  RemoveSubtree,   // "Entire feature will be &unavailable" (and "Do &Not Install Component or Sub Components")
  RemoveNode,      // "Do Not Install Component &Only"
};
// The menu is offered only for nodes that the user may change.
bool featureMenuOffered(const ComponentLists& lists, const std::vector<FeatureNode>& roots,
                        const std::vector<size_t>& path);
// Installing a node also selects each of its parents (alone). Returns false for a path that names no node.
bool applyFeatureMenu(ComponentLists& lists, const std::vector<FeatureNode>& roots, const std::vector<size_t>& path,
                      FeatureMenuAction action);

// ---- Feature checklist (top-level components only) ----

struct ChecklistItem {
  std::string text;
  bool checked = false;
};
std::vector<ChecklistItem> featureChecklist(const ComponentLists& lists);
// Gives each item's mark to every changeable component whose name begins with the item's text (so
// "Tools" reaches "Tools\Samples" and also "Toolsmith"), then sets each item's mark from its own
// component, so the item of a fixed component springs back.
void applyFeatureChecklist(ComponentLists& lists, std::vector<ChecklistItem>& items);

}  // namespace orv
