// The component model: definitions, marks, size sums and texts, the feature tree with its menu, and the
// checklist.
#include "core/components.h"

#include <gtest/gtest.h>

#include <limits>

namespace orv {
namespace {

using Names = std::vector<std::string>;

ComponentLists defined(std::initializer_list<std::pair<const char*, bool>> components) {
  ComponentLists c;
  for (const auto& [name, selected] : components) c.define(name, std::string("about ") + name, selected);
  return c;
}

std::vector<std::string> statesOf(const ComponentLists& c) { return c.states; }

TEST(ComponentModel, StateQueriesFollowDefinitionDeletionAndCase) {
  ComponentLists c = defined({{"Core", true}, {"Docs", false}, {"Tools", true}});
  c.states[2] = "true";  // a state read from a file in another letter case
  c.markDeleted("DOCS");
  const struct {
    const char* name;
    bool selected;
  } cases[] = {{"core", true}, {"Docs", false}, {"Tools", true}, {"Nowhere", false}};
  for (const auto& t : cases) EXPECT_EQ(c.isSelected(t.name), t.selected) << t.name;

  c.setState("docs", true);
  EXPECT_FALSE(c.isSelected("Docs")) << "a deleted component stays unselected whatever its state";
  c.define("Docs", "back", false);
  EXPECT_TRUE(c.isSelected("Docs")) << "defining it again undeletes it and keeps the state it had";
  EXPECT_EQ(c.description("DOCS"), "back");
  EXPECT_FALSE(c.setState("Nowhere", true));
  EXPECT_EQ(c.names.size(), 3u);
}

TEST(ComponentModel, DefineKeepsAStateLoadedBeforeTheScriptDefinesIt) {
  ComponentLists c;
  c.names = {"Tools"};
  c.states = {"FALSE"};
  c.define("Tools", "", true);
  EXPECT_EQ(statesOf(c), Names{"FALSE"});
  c.states = {""};
  c.define("tools", "", true);
  EXPECT_EQ(statesOf(c), Names{"TRUE"}) << "an empty state is decided by the definition";
}

TEST(ComponentModel, ATranslatedNameInheritsTheWrittenNamesSize) {
  ComponentLists c;
  c.sizes = {"TOOLS", "4096"};
  c.defineTranslated("Tools", "Werkzeuge", "", true);
  c.defineTranslated("Docs", "Doku", "", true);  // no size: no pair beyond the usual zero
  EXPECT_EQ(c.sizeOf("Werkzeuge"), 4096);
  EXPECT_EQ(c.sizes, (Names{"TOOLS", "4096", "Werkzeuge", "4096", "Doku", "0"}));
}

TEST(ComponentModel, SizesAreReplacedOnlyForKnownComponentsAndNumbers) {
  ComponentLists c = defined({{"Core", true}});
  c.sizes.insert(c.sizes.begin(), {"CORE", "10"});  // the image's pair comes first and wins
  const struct {
    const char* name;
    const char* size;
    bool taken;
    int64_t after;
  } cases[] = {
      {"core", "2048", true, 2048},
      {"Core", " 77 ", true, 77},
      {"Core", "12kb", false, 77},
      {"Core", "", false, 77},
      {"Core", "99999999999999999999", false, 77},
      {"Core", "-5", true, -5},
      {"Ghost", "100", false, 0},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(std::string(t.name) + " " + t.size);
    EXPECT_EQ(c.setSize(t.name, t.size), t.taken);
    EXPECT_EQ(c.sizeOf(t.name), t.after);
  }
  EXPECT_EQ(c.sizes.size(), 4u) << "the first pair is replaced, no pair added";
  ComponentLists fresh;
  fresh.names = {"Late"};
  fresh.states = {"TRUE"};
  EXPECT_TRUE(fresh.setSize("Late", "5"));
  EXPECT_EQ(fresh.sizes, (Names{"Late", "5"})) << "a component without a pair gets one";
}

TEST(ComponentModel, FixedAndHiddenMarksAndTheirParentLevels) {
  ComponentLists c = defined({{"Tools", true}, {"Tools\\Samples", true}, {"Toolsmith", true}});
  EXPECT_TRUE(c.setChangeable("Tools", false));
  EXPECT_TRUE(c.setChangeable("tools", false));
  EXPECT_EQ(c.fixed, Names{"Tools"}) << "listed once";
  EXPECT_FALSE(c.setChangeable("Ghost", false));
  EXPECT_TRUE(c.fixedInEffect("Tools\\Samples"));
  EXPECT_TRUE(c.fixedInEffect("TOOLS\\SAMPLES\\Deeper"));
  EXPECT_FALSE(c.fixedInEffect("Toolsmith")) << "a level is cut at a backslash, not by letters";

  c.fixed = {"Tools", "TOOLS"};  // as a merged selection file may hold it
  c.setChangeable("Tools", true);
  EXPECT_TRUE(c.fixed.empty()) << "made changeable means no entry is left behind";

  c.setVisible("Tools", false);
  EXPECT_TRUE(c.hiddenInEffect("Tools\\Samples"));
  c.setVisible("TOOLS", true);
  EXPECT_FALSE(c.hiddenInEffect("Tools\\Samples"));
  EXPECT_FALSE(c.setVisible("Ghost", false));
  EXPECT_TRUE(c.hidden.empty());

  EXPECT_TRUE(c.markDeleted("toolsmith"));
  EXPECT_TRUE(c.markDeleted("Toolsmith"));
  EXPECT_EQ(c.deleted, Names{"toolsmith"});
  EXPECT_FALSE(c.markDeleted("Ghost"));
}

TEST(ComponentModel, SelectedAndRequiredSizes) {
  ComponentLists c = defined({{kPredefinedComponent.data(), true}, {"A", true}, {"B", false}, {"C", true}});
  c.setSize(kPredefinedComponent, "1000");
  c.setSize("A", "200");
  c.setSize("B", "30");
  c.setSize("C", "4");
  c.markDeleted("C");
  EXPECT_EQ(c.selectedSize(), 1200) << "the predefined component counts; unselected and deleted do not";
  EXPECT_EQ(c.requiredSize(), 1200);
  c.installedSize = 1230;  // maintenance: A and B were installed
  EXPECT_EQ(c.requiredSize(), -30) << "deselecting frees space";
  c.setState("B", true);
  EXPECT_EQ(c.requiredSize(), 0);

  ComponentLists hostile = defined({{"X", true}, {"Y", true}});
  hostile.setSize("X", "9223372036854775807");
  hostile.setSize("Y", "9223372036854775807");
  EXPECT_EQ(hostile.selectedSize(), std::numeric_limits<int64_t>::max()) << "sizes from a file cannot wrap the sum";
  hostile.installedSize = std::numeric_limits<int64_t>::min();
  EXPECT_EQ(hostile.requiredSize(), std::numeric_limits<int64_t>::max());
}

TEST(ComponentModel, SizeTexts) {
  const struct {
    int64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0 bytes"},
      {999, "999 bytes"},
      {1048575, "1,048,575 bytes"},
      {1048576, "1,024 KB"},
      {1536000, "1,500 KB"},
      {1073741823, "1,048,575 KB"},
      {1073741824, "1,024 MB"},
      {5000000000, "4,768 MB"},
      {-200, "-200 bytes"},
      {-5000000000, "-5,000,000,000 bytes"},
      {std::numeric_limits<int64_t>::min(), "-9,223,372,036,854,775,808 bytes"},
      {std::numeric_limits<int64_t>::max(), "8,796,093,022,207 MB"},
  };
  for (const auto& t : cases) EXPECT_EQ(formatSize(t.bytes), t.text) << t.bytes;
  EXPECT_EQ(formatSize(2048, {"Bytes", "Ko", "Mo"}), "2,048 Bytes");
  EXPECT_EQ(formatSize(2097152, {"Bytes", "Ko", "Mo"}), "2,048 Ko");
}

// ---- Feature tree ----

std::string describe(const ComponentLists& c, const std::vector<FeatureNode>& nodes) {
  std::string out;
  for (const FeatureNode& n : nodes) {
    out += n.text;
    if (n.component < 0) out += "~";
    else if (c.isSelectedAt(size_t(n.component))) out += "+";
    if (!n.children.empty()) out += "(" + describe(c, n.children) + ")";
    out += " ";
  }
  if (!out.empty()) out.pop_back();
  return out;
}

TEST(FeatureTree, ShowsLevelsAndLeavesOutWhatIsNotShown) {
  const struct {
    const char* name;
    std::vector<std::pair<const char*, bool>> components;
    Names hidden, deleted;
    const char* tree;  // "+" selected, "~" a path level with no component
  } cases[] = {
      {"levels in definition order, matched ignoring case",
       {{"Tools", true}, {"Docs", false}, {"tools\\Samples", false}, {"TOOLS\\Samples\\Big", true}},
       {}, {}, "Tools+(Samples(Big+)) Docs"},
      {"a child defined before its parent leaves a path level that the parent fills later",
       {{"A\\B", true}, {"A", false}}, {}, {}, "A(B+)"},
      {"a path level nobody defines", {{"X\\Y\\Z", false}}, {}, {}, "X~(Y~(Z))"},
      {"hiding a parent hides its children; deleted ones are gone",
       {{"Tools", true}, {"Tools\\Samples", true}, {"Docs", true}, {"Extra", true}},
       {"tools"}, {"Extra"}, "Docs+"},
      {"the predefined component is never shown",
       {{kPredefinedComponent.data(), true}, {"Core", false}}, {}, {}, "Core"},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    ComponentLists c;
    for (const auto& [name, selected] : t.components) c.define(name, "", selected);
    c.hidden = t.hidden;
    c.deleted = t.deleted;
    EXPECT_EQ(describe(c, featureTree(c)), t.tree);
  }
}

TEST(FeatureTree, CheckBoxesShowAMixedSubtree) {
  ComponentLists c = defined({{"A", true}, {"A\\B", true}, {"A\\C", false}, {"D", false}, {"D\\E", false}, {"P\\Q", true}});
  const std::vector<FeatureNode> tree = featureTree(c);
  ASSERT_EQ(tree.size(), 3u);
  EXPECT_EQ(featureCheck(c, tree[0]), FeatureCheck::Mixed);
  EXPECT_EQ(featureCheck(c, tree[0].children[0]), FeatureCheck::Selected);
  EXPECT_EQ(featureCheck(c, tree[1]), FeatureCheck::Unselected);
  EXPECT_EQ(featureCheck(c, tree[2]), FeatureCheck::Selected) << "a path level follows its children";
  c.setState("A\\C", true);
  EXPECT_EQ(featureCheck(c, tree[0]), FeatureCheck::Selected);
  c.setState("D\\E", true);
  EXPECT_EQ(featureCheck(c, tree[1]), FeatureCheck::Mixed);
}

TEST(FeatureTree, MenuActionsSelectParentsAndSkipFixedDescendants) {
  // Root > Mid (path level only) > Leaf, Locked (fixed), Locked\Inner; Root\Other.
  const auto build = [] {
    ComponentLists c = defined({{"Root", false}, {"Root\\Mid\\Leaf", false}, {"Root\\Mid\\Locked", false},
                                {"Root\\Mid\\Locked\\Inner", false}, {"Root\\Other", true}});
    c.setChangeable("Root\\Mid\\Locked", false);
    return c;
  };
  const struct {
    const char* name;
    std::vector<size_t> path;
    FeatureMenuAction action;
    Names states;  // Root, Leaf, Locked, Inner, Other
  } cases[] = {
      {"install a leaf: the leaf and its parents alone", {0, 0, 0}, FeatureMenuAction::InstallNode,
       {"TRUE", "TRUE", "FALSE", "FALSE", "TRUE"}},
      {"install the entire feature through a path level, fixed ones untouched", {0}, FeatureMenuAction::InstallSubtree,
       {"TRUE", "TRUE", "FALSE", "FALSE", "TRUE"}},
      {"the entire feature unavailable", {0}, FeatureMenuAction::RemoveSubtree,
       {"FALSE", "FALSE", "FALSE", "FALSE", "FALSE"}},
      {"the component only", {0, 1}, FeatureMenuAction::RemoveNode, {"FALSE", "FALSE", "FALSE", "FALSE", "FALSE"}},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    ComponentLists c = build();
    const std::vector<FeatureNode> tree = featureTree(c);
    EXPECT_TRUE(applyFeatureMenu(c, tree, t.path, t.action));
    EXPECT_EQ(c.states, t.states);
  }
  ComponentLists c = build();
  const std::vector<FeatureNode> tree = featureTree(c);
  EXPECT_FALSE(applyFeatureMenu(c, tree, {5}, FeatureMenuAction::InstallNode)) << "no such node";
  EXPECT_FALSE(applyFeatureMenu(c, tree, {}, FeatureMenuAction::InstallNode));
  EXPECT_EQ(featurePathName(tree, {0, 0, 1, 0}), "Root\\Mid\\Locked\\Inner");
  EXPECT_TRUE(featureMenuOffered(c, tree, {0, 0}));
  EXPECT_FALSE(featureMenuOffered(c, tree, {0, 0, 1}));
  EXPECT_FALSE(featureMenuOffered(c, tree, {0, 0, 1, 0})) << "fixed through its parent";
  EXPECT_FALSE(featureMenuOffered(c, tree, {9}));
}

TEST(FeatureTree, AFixedParentKeepsTheMenuFromBothLevels) {
  ComponentLists c = defined({{"Tools", true}, {"Tools\\Samples", false}});
  c.setChangeable("Tools", false);
  const std::vector<FeatureNode> tree = featureTree(c);
  EXPECT_EQ(describe(c, tree), "Tools+(Samples)") << "both still shown";
  EXPECT_FALSE(featureMenuOffered(c, tree, {0}));
  EXPECT_FALSE(featureMenuOffered(c, tree, {0, 0}));
}

// ---- Checklist ----

TEST(FeatureChecklist, ShowsTopLevelComponentsAndHidesOnlyTheirOwnEntries) {
  ComponentLists c = defined({{kPredefinedComponent.data(), true}, {"Tools", true},
                              {"Tools\\Samples", false}, {"Docs", false}, {"Gone", true}, {"Quiet", true}});
  c.markDeleted("Gone");
  c.setVisible("Quiet", false);
  std::vector<ChecklistItem> items = featureChecklist(c);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].text, "Tools");
  EXPECT_TRUE(items[0].checked);
  EXPECT_EQ(items[1].text, "Docs");
  EXPECT_FALSE(items[1].checked);

  c.setVisible("Tools", false);
  EXPECT_EQ(featureChecklist(c).size(), 1u);
  c.setVisible("Tools", true);
  c.setVisible("Tools\\Samples", false);  // never on the list anyway
  EXPECT_EQ(featureChecklist(c).size(), 2u);
}

TEST(FeatureChecklist, AChangeReachesEveryNameWithTheSameLeadingLetters) {
  const struct {
    const char* name;
    bool toolsFixed;
    bool check;
    Names states;  // Toolsmith, Tools, Tools\Samples, Docs
    bool toolsmithMark, toolsMark;
  } cases[] = {
      {"unchecking Tools", false, false, {"FALSE", "FALSE", "FALSE", "TRUE"}, false, false},
      {"checking Tools also checks the look-alike listed before it", false, true, {"TRUE", "TRUE", "TRUE", "TRUE"}, true,
       true},
      {"a fixed Tools springs back and keeps its child", true, false, {"FALSE", "TRUE", "TRUE", "TRUE"}, false, true},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    ComponentLists c = defined({{"Toolsmith", false}, {"Tools", !t.check}, {"Tools\\Samples", t.toolsFixed}, {"Docs", true}});
    if (t.toolsFixed) c.setChangeable("Tools", false);
    std::vector<ChecklistItem> items = featureChecklist(c);
    ASSERT_EQ(items.size(), 3u);
    items[1].checked = t.check;
    applyFeatureChecklist(c, items);
    EXPECT_EQ(c.states, t.states);
    EXPECT_EQ(items[0].checked, t.toolsmithMark) << "every mark shows its own component once all items are applied";
    EXPECT_EQ(items[1].checked, t.toolsMark);
  }
}

}  // namespace
}  // namespace orv
