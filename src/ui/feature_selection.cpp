#include "ui/feature_selection.h"

#include <commctrl.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "bootstrap/engine.h"
#include "core/components.h"
#include "core/text.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "ui/binding.h"
#include "ui/binding_rules.h"
#include "ui/dialog_pool.h"

namespace orv {
namespace {

// State images of the tree's check boxes (index 0 is "no image" for a tree view).
enum StateImage : UINT { kNoBox = 0, kUnchecked = 1, kChecked = 2, kMixed = 3 };
enum MenuCommand : UINT { kInstallNode = 1, kInstallSubtree, kRemoveSubtree };
constexpr int kBoxSize = 16;

ComponentLists& componentsOf(Page& page) { return page.runtime->engine.components; }

bool isFeatureTree(const PageControl& c) { return c.kind == ControlKind::TreeView && c.tag == 1 && c.window; }
bool isFeatureChecklist(const PageControl& c) { return c.kind == ControlKind::CheckListBox && c.tag == 1 && c.window; }

template <typename Fn>
void withoutHandlers(Page& page, Fn fn) {
  bool& flag = page.runtime->suppressHandlers;
  const bool before = flag;
  flag = true;
  fn();
  flag = before;
}

// ---- the tree's check boxes ----

HBITMAP checkBoxBitmap(HDC screen, UINT state) {
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, kBoxSize, kBoxSize);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all{0, 0, kBoxSize, kBoxSize};
  FillRect(dc, &all, GetSysColorBrush(COLOR_WINDOW));
  if (state != kNoBox) {
    RECT box{2, 2, kBoxSize - 1, kBoxSize - 1};
    const UINT look = state == kChecked ? DFCS_CHECKED : state == kMixed ? DFCS_BUTTON3STATE | DFCS_CHECKED : 0;
    DrawFrameControl(dc, &box, DFC_BUTTON, DFCS_BUTTONCHECK | DFCS_FLAT | look);
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  return bitmap;
}

// The engine does not link the common controls library: their functions come from the module the page
// runtime loaded (the version its controls belong to). Without them the tree simply shows no boxes.
struct CommonControls {
  decltype(&ImageList_Create) createList = nullptr;
  decltype(&ImageList_Add) addImage = nullptr;
  decltype(&ImageList_Destroy) destroyList = nullptr;
  decltype(&SetWindowSubclass) setSubclass = nullptr;
  decltype(&GetWindowSubclass) getSubclass = nullptr;
  decltype(&RemoveWindowSubclass) removeSubclass = nullptr;
  decltype(&DefSubclassProc) defaultProc = nullptr;
  bool complete() const {
    return createList && addImage && destroyList && setSubclass && getSubclass && removeSubclass && defaultProc;
  }
};

template <typename Fn>
void lookUp(HMODULE module, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

CommonControls commonControls() {
  CommonControls cc;
  if (HMODULE module = GetModuleHandleW(L"comctl32.dll")) {
    lookUp(module, "ImageList_Create", cc.createList);
    lookUp(module, "ImageList_Add", cc.addImage);
    lookUp(module, "ImageList_Destroy", cc.destroyList);
    lookUp(module, "SetWindowSubclass", cc.setSubclass);
    lookUp(module, "GetWindowSubclass", cc.getSubclass);
    lookUp(module, "RemoveWindowSubclass", cc.removeSubclass);
    lookUp(module, "DefSubclassProc", cc.defaultProc);
  }
  return cc;
}

// The image list lives as long as the tree: it goes with the window.
LRESULT CALLBACK treeSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
  const CommonControls cc = commonControls();
  if (message == WM_NCDESTROY) {
    if (HIMAGELIST images = TreeView_GetImageList(window, TVSIL_STATE)) cc.destroyList(images);
    cc.removeSubclass(window, treeSubclass, id);
  }
  return cc.defaultProc(window, message, wParam, lParam);
}

void ensureCheckBoxImages(HWND tree) {
  const CommonControls cc = commonControls();
  DWORD_PTR ignored = 0;
  // A design's own check boxes keep the control's list, which the control frees itself.
  if (GetWindowLongPtrW(tree, GWL_STYLE) & TVS_CHECKBOXES) return;
  if (!cc.complete() || cc.getSubclass(tree, treeSubclass, 1, &ignored)) return;
  HIMAGELIST images = cc.createList(kBoxSize, kBoxSize, ILC_COLOR24, 4, 0);
  if (!images) return;
  HDC screen = GetDC(nullptr);
  for (UINT state : {kNoBox, kUnchecked, kChecked, kMixed}) {
    HBITMAP bitmap = checkBoxBitmap(screen, state);
    cc.addImage(images, bitmap, nullptr);
    DeleteObject(bitmap);
  }
  ReleaseDC(nullptr, screen);
  if (HIMAGELIST old = TreeView_SetImageList(tree, images, TVSIL_STATE)) cc.destroyList(old);
  cc.setSubclass(tree, treeSubclass, 1, 0);
}

UINT stateImageOf(const ComponentLists& lists, const FeatureNode& node) {
  switch (featureCheck(lists, node)) {
    case FeatureCheck::Selected: return kChecked;
    case FeatureCheck::Mixed: return kMixed;
    default: return kUnchecked;
  }
}

void setNodeLook(HWND tree, HTREEITEM item, const ComponentLists& lists, const FeatureNode& node) {
  TVITEMW look{};
  look.mask = TVIF_STATE | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  look.hItem = item;
  look.stateMask = TVIS_STATEIMAGEMASK;
  look.state = INDEXTOSTATEIMAGEMASK(stateImageOf(lists, node));
  look.iImage = look.iSelectedImage = node.component >= 0 && lists.isSelectedAt(size_t(node.component)) ? 1 : 0;
  TreeView_SetItem(tree, &look);
}

void insertNodes(HWND tree, HTREEITEM parent, const ComponentLists& lists, const std::vector<FeatureNode>& nodes) {
  for (const FeatureNode& node : nodes) {
    std::wstring text = widen(node.text);
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = text.data();
    insert.item.lParam = static_cast<LPARAM>(node.component + 1);  // 0: a path level only
    HTREEITEM item = TreeView_InsertItem(tree, &insert);
    setNodeLook(tree, item, lists, node);
    insertNodes(tree, item, lists, node.children);
    TreeView_Expand(tree, item, TVE_EXPAND);
  }
}

// The tree mirrors featureTree() node for node, so both can be walked side by side.
void refreshNodeLooks(HWND tree, HTREEITEM first, const ComponentLists& lists, const std::vector<FeatureNode>& nodes) {
  HTREEITEM item = first;
  for (const FeatureNode& node : nodes) {
    if (!item) return;
    setNodeLook(tree, item, lists, node);
    refreshNodeLooks(tree, TreeView_GetChild(tree, item), lists, node.children);
    item = TreeView_GetNextSibling(tree, item);
  }
}

std::string nodeText(HWND tree, HTREEITEM item) {
  wchar_t text[1024] = {};
  TVITEMW read{};
  read.mask = TVIF_TEXT;
  read.hItem = item;
  read.pszText = text;
  read.cchTextMax = 1024;
  return TreeView_GetItem(tree, &read) ? narrow(text) : std::string();
}

// The node texts from the root down joined by "\", and the node's position among its siblings per level.
std::string selectionPathOf(HWND tree, HTREEITEM item, std::vector<size_t>* indexes = nullptr) {
  std::string path;
  for (; item; item = TreeView_GetParent(tree, item)) {
    path = path.empty() ? nodeText(tree, item) : nodeText(tree, item) + "\\" + path;
    if (indexes) {
      size_t index = 0;
      for (HTREEITEM before = TreeView_GetPrevSibling(tree, item); before; before = TreeView_GetPrevSibling(tree, before))
        ++index;
      indexes->insert(indexes->begin(), index);
    }
  }
  return path;
}

void fillFeatureTree(Page& page, PageControl& c) {
  const ComponentLists& lists = componentsOf(page);
  ensureCheckBoxImages(c.window);
  TreeView_DeleteAllItems(c.window);
  insertNodes(c.window, TVI_ROOT, lists, featureTree(lists));
  if (HTREEITEM first = TreeView_GetRoot(c.window)) {
    TreeView_SelectItem(c.window, first);
    page.selectionPath = selectionPathOf(c.window, first);
  }
}

void afterSelectionChange(Page& page) {
  refreshStatusTexts(page);
  evaluateDialogRules(page);
}

void applyMenuAction(Page& page, PageControl& tree, HTREEITEM item, FeatureMenuAction action) {
  ComponentLists& lists = componentsOf(page);
  std::vector<size_t> path;
  selectionPathOf(tree.window, item, &path);
  const std::vector<FeatureNode> roots = featureTree(lists);
  if (!featureMenuOffered(lists, roots, path) || !applyFeatureMenu(lists, roots, path, action)) return;
  refreshNodeLooks(tree.window, TreeView_GetRoot(tree.window), lists, roots);
  InvalidateRect(tree.window, nullptr, TRUE);
  afterSelectionChange(page);
}

// The feature menu at a screen point; not offered for a node the user may not change.
void openFeatureMenu(Page& page, PageControl& tree, HTREEITEM item, POINT at) {
  std::vector<size_t> path;
  selectionPathOf(tree.window, item, &path);
  if (!featureMenuOffered(componentsOf(page), featureTree(componentsOf(page)), path)) return;
  HMENU menu = CreatePopupMenu();
  if (!menu) return;
  AppendMenuW(menu, MF_STRING, kInstallNode, L"Will be &installed on local hard drive");
  AppendMenuW(menu, MF_STRING, kInstallSubtree, L"&Entire feature will be installed on local hard drive");
  AppendMenuW(menu, MF_STRING, kRemoveSubtree, L"Entire feature will be &unavailable");
  const UINT chosen = static_cast<UINT>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, 0, page.window, nullptr));
  DestroyMenu(menu);
  if (chosen == kInstallNode) applyMenuAction(page, tree, item, FeatureMenuAction::InstallNode);
  else if (chosen == kInstallSubtree) applyMenuAction(page, tree, item, FeatureMenuAction::InstallSubtree);
  else if (chosen == kRemoveSubtree) applyMenuAction(page, tree, item, FeatureMenuAction::RemoveSubtree);
}

// A check box click or the space bar: the whole feature in or out.
void toggleFeature(Page& page, PageControl& tree, HTREEITEM item) {
  std::vector<size_t> path;
  selectionPathOf(tree.window, item, &path);
  const ComponentLists& lists = componentsOf(page);
  const std::vector<FeatureNode> roots = featureTree(lists);
  const std::vector<FeatureNode>* level = &roots;
  const FeatureNode* node = nullptr;
  for (size_t index : path) {
    if (index >= level->size()) return;  // the tree no longer matches the lists
    node = &(*level)[index];
    level = &node->children;
  }
  if (!node) return;
  const bool selected = featureCheck(lists, *node) == FeatureCheck::Selected;
  applyMenuAction(page, tree, item, selected ? FeatureMenuAction::RemoveSubtree : FeatureMenuAction::InstallSubtree);
}

bool onTreeNotify(Page& page, PageControl& tree, const NMHDR& header) {
  switch (header.code) {
    case TVN_SELCHANGEDW: {
      const auto& change = reinterpret_cast<const NMTREEVIEWW&>(header);
      if (change.itemNew.hItem) page.selectionPath = selectionPathOf(tree.window, change.itemNew.hItem);
      refreshStatusTexts(page);
      return false;  // the binding writes the bound variable and runs the rules
    }
    case NM_CLICK:
    case NM_RCLICK: {
      TVHITTESTINFO hit{};
      GetCursorPos(&hit.pt);
      const POINT screen = hit.pt;
      ScreenToClient(tree.window, &hit.pt);
      if (!TreeView_HitTest(tree.window, &hit) || !hit.hItem) return true;
      TreeView_SelectItem(tree.window, hit.hItem);
      if (header.code == NM_RCLICK) openFeatureMenu(page, tree, hit.hItem, screen);
      else if (hit.flags & TVHT_ONITEMSTATEICON) toggleFeature(page, tree, hit.hItem);
      return true;
    }
    case TVN_KEYDOWN: {
      const auto& key = reinterpret_cast<const NMTVKEYDOWN&>(header);
      HTREEITEM item = TreeView_GetSelection(tree.window);
      if (!item) return true;
      if (key.wVKey == VK_SPACE) {
        toggleFeature(page, tree, item);
      } else if (key.wVKey == VK_APPS || (key.wVKey == VK_F10 && GetKeyState(VK_SHIFT) < 0)) {
        RECT row{};
        TreeView_GetItemRect(tree.window, item, &row, TRUE);
        POINT below{row.left, row.bottom};
        ClientToScreen(tree.window, &below);
        openFeatureMenu(page, tree, item, below);
      }
      return true;
    }
    default:
      return false;
  }
}

// ---- the checklist ----

std::string checklistText(HWND list, int item) {
  wchar_t text[1024] = {};
  ListView_GetItemText(list, item, 0, text, 1024);
  return narrow(text);
}

void fillFeatureChecklist(Page& page, PageControl& c) {
  ListView_DeleteAllItems(c.window);
  const std::vector<ChecklistItem> items = featureChecklist(componentsOf(page));
  for (size_t i = 0; i < items.size(); ++i) {
    std::wstring text = widen(items[i].text);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = text.data();
    const int at = ListView_InsertItem(c.window, &item);
    ListView_SetCheckState(c.window, at, items[i].checked ? TRUE : FALSE);
  }
  if (!items.empty()) page.selectionPath = items.front().text;
}

void applyChecklistMarks(Page& page, PageControl& c) {
  std::vector<ChecklistItem> items;
  const int count = ListView_GetItemCount(c.window);
  for (int i = 0; i < count; ++i) items.push_back({checklistText(c.window, i), ListView_GetCheckState(c.window, i) != 0});
  applyFeatureChecklist(componentsOf(page), items);
  withoutHandlers(page, [&] {
    for (int i = 0; i < count; ++i)
      if ((ListView_GetCheckState(c.window, i) != 0) != items[size_t(i)].checked)
        ListView_SetCheckState(c.window, i, items[size_t(i)].checked ? TRUE : FALSE);
  });
}

bool onChecklistNotify(Page& page, PageControl& c, const NMHDR& header) {
  if (header.code != LVN_ITEMCHANGED) return false;
  const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
  if (!(change.uChanged & LVIF_STATE)) return true;
  const UINT changed = change.uNewState ^ change.uOldState;
  if (changed & LVIS_STATEIMAGEMASK) applyChecklistMarks(page, c);
  if ((changed & LVIS_SELECTED) && (change.uNewState & LVIS_SELECTED) && change.iItem >= 0)
    page.selectionPath = checklistText(c.window, change.iItem);
  afterSelectionChange(page);
  return true;
}

// ---- status texts ----

// Free bytes of the volume holding TARGETDIR (or its nearest existing parent); -1 without a target;
// nothing when the system cannot tell.
std::optional<int64_t> freeSize(Page& page) {
  VariableStore& vars = page.runtime->engine.vars;
  const std::string target = vars.expandPath(vars.getValue("TARGETDIR"));
  if (target.empty()) return -1;
  const std::string base = existingBase(target, [](const std::string& p) { return folderExists(p); });
  ULARGE_INTEGER free{};
  if (base.empty() || !GetDiskFreeSpaceExW(widen(base).c_str(), &free, nullptr, nullptr)) return std::nullopt;
  return static_cast<int64_t>(std::min<uint64_t>(free.QuadPart, INT64_MAX));
}

std::string statusText(Page& page, int64_t tag) {
  const ComponentLists& lists = componentsOf(page);
  switch (tag) {
    case 2: return textToNewline(lists.description(page.selectionPath));
    case 3: return formatSize(lists.sizeOf(page.selectionPath));
    case 4: return formatSize(lists.requiredSize());
    default: {
      const std::optional<int64_t> free = freeSize(page);
      int64_t remaining = 0;
      if (!free || __builtin_sub_overflow(*free, lists.requiredSize(), &remaining)) return {};
      return formatSize(remaining);
    }
  }
}

}  // namespace

void applyFeatureControls(Page& page) {
  for (const auto& c : page.controls) {
    if (isFeatureTree(*c)) fillFeatureTree(page, *c);
    else if (isFeatureChecklist(*c)) fillFeatureChecklist(page, *c);
  }
}

bool onFeatureNotify(Page& page, PageControl& control, const NMHDR& header) {
  if (isFeatureTree(control)) return onTreeNotify(page, control, header);
  if (isFeatureChecklist(control)) return onChecklistNotify(page, control, header);
  return false;
}

void refreshFeatureStatusTexts(Page& page) {
  for (const auto& c : page.controls) {
    if (c->kind != ControlKind::StaticText || !c->window || (c->tag != 2 && c->tag != 3 && c->tag != 4 && c->tag != 6))
      continue;
    std::string text;
    try {
      text = statusText(page, c->tag);
    } catch (const std::exception&) {
      text.clear();  // a text that cannot be computed shows empty
    }
    if (windowText(c->window) != text) setWindowText(c->window, text);
  }
}

}  // namespace orv
