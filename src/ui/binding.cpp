#include "ui/binding.h"

#include <objbase.h>
#include <richedit.h>
#include <shlobj.h>

#include <algorithm>
#include <optional>

#include "bootstrap/engine.h"
#include "core/text.h"
#include "platform/com.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "ui/binding_rules.h"
#include "ui/control_factory.h"
#include "ui/dialog_pool.h"
#include "ui/feature_selection.h"
#include "ui/page_rules.h"
#include "ui/picture.h"
#include "ui/progress_page.h"

namespace orv {
namespace {

constexpr char kCancelQuestion[] = "Are you sure you want to cancel?";
constexpr char kCustomFolderReason[] = "SetCustomDirectoryEditText";
constexpr int kResultCancel = 2, kResultNext = 6, kResultBack = 7, kResultCustom = 8;

Engine& engineOf(Page& page) { return page.runtime->engine; }
VariableStore& varsOf(Page& page) { return page.runtime->engine.vars; }

bool handlersOff(Page& page) { return !page.attached || page.runtime->suppressHandlers; }

// Runs `fn` with the suppress-handlers flag set, restoring it afterwards.
template <typename Fn>
void suppressed(Page& page, Fn fn) {
  bool& flag = page.runtime->suppressHandlers;
  const bool before = flag;
  flag = true;
  try {
    fn();
  } catch (...) {
    flag = before;
    throw;
  }
  flag = before;
}

std::string boundName(const PageControl& c) {
  std::string name = stripReference(c.hint);
  return upper(name.empty() ? c.hint : name);
}

// The variable named by the Hint, expanded; nothing when the Hint is empty or names no variable.
std::optional<std::string> boundValue(Page& page, const PageControl& c) {
  if (c.hint.empty()) return std::nullopt;
  const std::string name = boundName(c);
  if (!varsOf(page).exists(name)) return std::nullopt;
  return varsOf(page).expand(varsOf(page).getValue(name));
}

void writeBound(Page& page, const PageControl& c, std::string_view value, std::string_view reason) {
  if (c.hint.empty()) return;
  varsOf(page).defineVariable(boundName(c), value, reason);
}

std::string targetBase(Page& page) {
  const std::string target = varsOf(page).expandPath(varsOf(page).getValue("TARGETDIR"));
  return existingBase(target, [](const std::string& p) { return folderExists(p); });
}

void setTextIfDifferent(HWND window, const std::string& text) {
  if (window && windowText(window) != text) setWindowText(window, text);
}

std::vector<std::string> listItems(Page& page, const PageControl& c) {
  return nonEmptyLines(varsOf(page).expand(joinedItems(c.designItems)));
}

bool sameNoCase(const std::string& a, const std::string& b) { return equalsNoCase(a, b); }

// ---- reading controls ----

std::vector<std::string> selectedListItems(const PageControl& c) {
  std::vector<std::string> items;
  const LRESULT count = SendMessageW(c.window, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const bool selected = c.multiSelect ? SendMessageW(c.window, LB_GETSEL, static_cast<WPARAM>(i), 0) > 0
                                        : SendMessageW(c.window, LB_GETCURSEL, 0, 0) == i;
    if (!selected) continue;
    const LRESULT length = SendMessageW(c.window, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    std::wstring text(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
    SendMessageW(c.window, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcslen(text.c_str()));
    items.push_back(narrow(text));
  }
  return items;
}

std::string listViewText(HWND window, int item) {
  wchar_t buffer[1024] = {};
  ListView_GetItemText(window, item, 0, buffer, 1024);
  return narrow(buffer);
}

std::vector<std::string> checkedItems(const PageControl& c) {
  std::vector<std::string> items;
  const int count = ListView_GetItemCount(c.window);
  for (int i = 0; i < count; ++i)
    if (ListView_GetCheckState(c.window, i)) items.push_back(listViewText(c.window, i));
  return items;
}

std::string comboText(const PageControl& c, bool fromSelection) {
  if (fromSelection) {
    const LRESULT at = SendMessageW(c.window, CB_GETCURSEL, 0, 0);
    if (at != CB_ERR) {
      const LRESULT length = SendMessageW(c.window, CB_GETLBTEXTLEN, static_cast<WPARAM>(at), 0);
      std::wstring text(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
      SendMessageW(c.window, CB_GETLBTEXT, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(text.data()));
      text.resize(wcslen(text.c_str()));
      return narrow(text);
    }
  }
  return windowText(c.window);
}

// ---- filling controls ----

void fillList(Page& page, PageControl& c) {
  const std::vector<std::string> items = listItems(page, c);
  const UINT reset = c.kind == ControlKind::ListBox ? LB_RESETCONTENT : CB_RESETCONTENT;
  const UINT add = c.kind == ControlKind::ListBox ? LB_ADDSTRING : CB_ADDSTRING;
  if (c.kind == ControlKind::CheckListBox) {
    ListView_DeleteAllItems(c.window);
    for (size_t i = 0; i < items.size(); ++i) {
      std::wstring text = widen(items[i]);
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = static_cast<int>(i);
      item.pszText = text.data();
      ListView_InsertItem(c.window, &item);
    }
    return;
  }
  SendMessageW(c.window, reset, 0, 0);
  for (const std::string& item : items) SendMessageW(c.window, add, 0, reinterpret_cast<LPARAM>(widen(item).c_str()));
}

int findItem(const PageControl& c, const std::string& value) {
  if (c.kind == ControlKind::CheckListBox) {
    for (int i = 0; i < ListView_GetItemCount(c.window); ++i)
      if (sameNoCase(listViewText(c.window, i), value)) return i;
    return -1;
  }
  const bool list = c.kind == ControlKind::ListBox;
  const LRESULT count = SendMessageW(c.window, list ? LB_GETCOUNT : CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendMessageW(c.window, list ? LB_GETTEXTLEN : CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    std::wstring text(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
    SendMessageW(c.window, list ? LB_GETTEXT : CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcslen(text.c_str()));
    if (sameNoCase(narrow(text), value)) return static_cast<int>(i);
  }
  return -1;
}

// Part of the readme and license roles: the first existing support file of the candidates.
std::string supportFileText(Page& page, const std::vector<std::string>& names, std::string& placeholder) {
  const std::string& folder = page.runtime->supportFolder;
  for (const std::string& name : names) {
    std::string bytes;
    if (fileExists(folder + name) && readWholeFile(folder + name, bytes)) return bytes;
  }
  return placeholder;
}

void loadReadmeOrLicense(Page& page, PageControl& c) {
  const std::string base = c.tag == 1 ? "readme" : "license";
  const std::string language;  // the active language suffix (none until languages are loaded)
  std::vector<std::string> names;
  std::string placeholder;
  if (c.kind == ControlKind::RichEdit) {
    names = {base + "." + language + ".rtf", base + ".rtf", base + "." + language + ".txt", base + ".txt"};
    placeholder = "Add a " + base + "." + language + ".rtf or " + base + ".rtf, or " + base + "." + language + ".txt or " +
                  base + ".txt file to your project as a support file/creative to display it here.";
  } else {
    names = {base + "." + language + ".txt", base + ".txt"};
    placeholder = "Add a " + base + "." + language + ".txt or " + base +
                  ".txt file to your project as a support file/creative to display it here.";
  }
  const std::string content = supportFileText(page, names, placeholder);
  if (c.kind == ControlKind::RichEdit && content.rfind("{\\rtf", 0) == 0) {
    SETTEXTEX how{ST_DEFAULT, CP_ACP};
    SendMessageW(c.window, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(content.c_str()));
    return;
  }
  // Support files are ANSI text in the setup's code page unless they carry a UTF-8 signature.
  const bool utf8 = content.rfind("\xEF\xBB\xBF", 0) == 0;
  const std::string text = utf8 ? content.substr(3) : content == placeholder ? content : fromCodePage(content, CP_ACP);
  setWindowText(c.window, replaceAll(replaceAll(text, "\r\n", "\n", false), "\n", "\r\n", false));
}

void applyEdit(Page& page, PageControl& c) {
  std::string text = page.runtime->registerText(page.designFileName, c.name, c.designText);  // not expanded
  if (auto value = boundValue(page, c)) text = varsOf(page).expandPath(*value);
  if (text.empty()) {
    static const char* const kDefaults[] = {"", "$STARTMENU$", "$TARGETDIR$", "$USERNAME$", "$USERCOMPANY$"};
    if (c.tag >= 1 && c.tag <= 4) text = varsOf(page).expandPath(kDefaults[c.tag]);
  }
  setTextIfDifferent(c.window, text);
}

void applyMemo(Page& page, PageControl& c) {
  SendMessageW(c.window, EM_SETREADONLY, c.hint.empty() ? TRUE : FALSE, 0);
  if (c.tag == 1 || c.tag == 2) {
    loadReadmeOrLicense(page, c);
    return;
  }
  page.runtime->registerText(page.designFileName, c.name, joinedItems(c.designItems));
  std::string text;
  if (auto value = boundValue(page, c)) text = textToNewline(varsOf(page).expandPath(*value));
  else text = textToNewline(varsOf(page).expand(page.runtime->registeredText(page.designFileName, c.name)));
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0 && c.hint.empty()) text.resize(text.size() - 2);
  setTextIfDifferent(c.window, text);
}

void applyControl(Page& page, PageControl& c) {
  VariableStore& v = varsOf(page);
  const std::optional<std::string> bound = boundValue(page, c);
  switch (c.kind) {
    case ControlKind::Label:
    case ControlKind::StaticText:
    case ControlKind::Button:
    case ControlKind::CheckBox:
    case ControlKind::Radio: {
      std::string text = controlText(page, c);
      if (c.kind == ControlKind::StaticText && c.tag == 1) text = v.expand(v.getValue("PROGRESSTEXT"));
      setTextIfDifferent(c.window, text);
      if ((c.kind == ControlKind::CheckBox || c.kind == ControlKind::Radio) && bound)
        SendMessageW(c.window, BM_SETCHECK, isTrueText(*bound) ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    }
    case ControlKind::Panel:
    case ControlKind::GroupBox:
      c.caption = controlText(page, c);
      break;
    case ControlKind::TabSheet:
      c.caption = controlText(page, c);
      break;
    case ControlKind::Edit:
      applyEdit(page, c);
      break;
    case ControlKind::Memo:
    case ControlKind::RichEdit:
      applyMemo(page, c);
      break;
    case ControlKind::ListBox:
    case ControlKind::ComboBox:
    case ControlKind::CheckListBox:
      fillList(page, c);
      if (!bound) break;
      if (c.kind == ControlKind::ListBox) {
        const int at = findItem(c, *bound);
        if (c.multiSelect) SendMessageW(c.window, LB_SETSEL, TRUE, at);
        else SendMessageW(c.window, LB_SETCURSEL, static_cast<WPARAM>(at), 0);
      } else if (c.kind == ControlKind::CheckListBox) {
        for (const std::string& line : nonEmptyLines(*bound))
          if (const int at = findItem(c, line); at >= 0) ListView_SetCheckState(c.window, at, TRUE);
      } else if (c.dropDownList) {
        SendMessageW(c.window, CB_SETCURSEL, static_cast<WPARAM>(findItem(c, *bound)), 0);
      } else {
        setTextIfDifferent(c.window, *bound);
      }
      break;
    case ControlKind::ProgressBar:
      if (c.tag == 1 && ((equalsNoCase(c.className, "TGauge") && v.exists("PROGRESS")) || !v.getValue("PROGRESS").empty())) {
        SendMessageW(c.window, PBM_SETRANGE32, 0, 100);
        SendMessageW(c.window, PBM_SETPOS, static_cast<WPARAM>(progressPercent(v.getValue("PROGRESS"))), 0);
      }
      break;
    case ControlKind::TrackBar:
      if (int64_t position = 0; bound && parseInt64(*bound, position))
        SendMessageW(c.window, TBM_SETPOS, TRUE, static_cast<LPARAM>(position));
      break;
    case ControlKind::Image:
      if (const std::string file = v.expandPath(v.getValue(c.name)); v.exists(c.name) && fileExists(file)) {
        SIZE size{};
        if (HBITMAP picture = pictureFromFile(file, size)) {
          if (c.ownedPicture) DeleteObject(c.ownedPicture);
          c.ownedPicture = c.picture = picture;
          c.pictureSize = size;
        }
      }
      break;
    case ControlKind::FolderList: {
      std::string folder = bound && folderExists(*bound) ? *bound : std::string();
      if (c.tag == 1 || folder.empty()) folder = targetBase(page);
      if (folder.empty()) folder = "C:\\";
      fillFolderList(c, folder);
      break;
    }
    case ControlKind::DriveCombo:
      if (c.tag == 1) selectDrive(c, targetBase(page));
      else if (bound) selectDrive(c, *bound);
      break;
    default:
      break;
  }
}

// Part of a click: the role of the control's Tag.
void clickRole(Page& page, PageControl& c);

void writeListSelection(Page& page, PageControl& c) { writeBound(page, c, joinedItems(selectedListItems(c)), "ListBox1Click"); }

void afterWrite(Page& page, bool statusTexts, bool mirrors) {
  if (statusTexts) refreshStatusTexts(page);
  if (mirrors) syncMirrorControls(page);
  evaluateDialogRules(page);
}

void edit1Change(Page& page, PageControl& c) {
  writeBound(page, c, windowText(c.window), "Edit1Change");
  afterWrite(page, true, true);
  if (c.maxLength > 0 && charCount(windowText(c.window)) >= static_cast<size_t>(c.maxLength) && GetFocus() == c.window) {
    if (HWND next = GetNextDlgTabItem(page.window, c.window, FALSE)) SetFocus(next);
  }
}

void radioClick(Page& page, PageControl& clicked) {
  for (const auto& c : page.controls)
    if (c->kind == ControlKind::Radio && c->parent == clicked.parent && c->window)
      SendMessageW(c->window, BM_SETCHECK, c.get() == &clicked ? BST_CHECKED : BST_UNCHECKED, 0);
  for (const auto& c : page.controls)
    if (c->kind == ControlKind::Radio && c->window && !c->hint.empty())
      writeBound(page, *c, boolText(SendMessageW(c->window, BM_GETCHECK, 0, 0) == BST_CHECKED), "RadioButton1Click");
  evaluateDialogRules(page);
}

// Browse roles: the Tag 2 edits receive the new target; each one's change handler writes its variable.
void setTargetEdits(Page& page, const std::string& chosen) {
  const std::string target = browsedTarget(page.runtime->target, chosen);
  for (const auto& c : page.controls)
    if (c->kind == ControlKind::Edit && c->tag == 2 && c->window) {
      setWindowText(c->window, target);
      if (!handlersOff(page)) edit1Change(page, *c);
    }
  afterWrite(page, true, false);
}

int CALLBACK browseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED && data) SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

// The folder picker; empty when the user cancelled or chose nothing that is a folder.
std::optional<std::string> pickFolder(Page& page, const std::string& start) {
  ComScope com;
  const std::wstring startWide = widen(start);
  BROWSEINFOW info{};
  info.hwndOwner = page.window;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info.lpfn = browseCallback;
  info.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(startWide.c_str());
  setTaskbarAttention(*page.runtime, true, false);
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  setTaskbarAttention(*page.runtime, false, false);
  std::optional<std::string> folder;
  if (chosen) {
    wchar_t path[MAX_PATH * 4] = {};
    folder = SHGetPathFromIDListW(chosen, path) ? narrow(path) : std::string();
    CoTaskMemFree(chosen);
  }
  return folder;
}

bool isPushButton(const PageControl& c) {
  for (const char* cls : {"TButton", "TAeroButton", "TAeroBackButton", "TAeroPngButton", "TRzBmpButton"})
    if (equalsNoCase(c.className, cls)) return true;
  return false;
}

void confirmCancel(Page& page, PageControl& c) {
  Engine& e = engineOf(page);
  setTaskbarAttention(*page.runtime, true, false);
  const int answer = MessageBoxW(page.window, widen(kCancelQuestion).c_str(), widen(e.caption()).c_str(),
                                 MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  setTaskbarAttention(*page.runtime, false, false);
  if (answer != IDYES) return;
  e.vars.defineVariable("ZORN_IsCancelled", "TRUE", "Button1Click");
  if (c.window) EnableWindow(c.window, FALSE);
  page.result = kResultCancel;
}

void clickRole(Page& page, PageControl& c) {
  page.result = -1;
  switch (c.tag) {
    case 1: page.result = kResultNext; break;
    case 2: page.result = kResultBack; break;
    case 3: confirmCancel(page, c); break;
    case 4: {
      const std::optional<std::string> chosen = pickFolder(page, targetBase(page));
      if (chosen && (!chosen->empty() || !isPushButton(c))) setTargetEdits(page, *chosen);
      break;
    }
    case 5:
      page.result = kResultCustom;
      page.customResult = c.name;
      break;
    case 6: {
      const std::optional<std::string> chosen = pickFolder(page, {});
      if (chosen && !chosen->empty()) {
        varsOf(page).defineVariable(upper(c.name), withTrailingBackslash(*chosen), kCustomFolderReason);
        afterWrite(page, true, true);
      }
      break;
    }
    default:
      break;
  }
  evaluateDialogRules(page);
}

void folderListActivated(Page& page, PageControl& c) {
  const LRESULT at = SendMessageW(c.window, LB_GETCURSEL, 0, 0);
  if (at == LB_ERR) return;
  wchar_t entry[MAX_PATH + 3] = {};
  if (SendMessageW(c.window, LB_GETTEXTLEN, static_cast<WPARAM>(at), 0) > MAX_PATH) return;
  SendMessageW(c.window, LB_GETTEXT, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(entry));
  std::string name = narrow(entry);
  if (name.size() < 2 || name.front() != '[') return;  // a file: chosen by selection, not opened
  name = name.substr(1, name.size() - 2);
  std::string folder = c.folder;
  if (name == "..") {
    folder.pop_back();
    folder = folderOf(folder);
  } else {
    folder += name + "\\";
  }
  fillFolderList(c, folder);
  writeBound(page, c, c.folder, "DirectoryListBox1Change");
  afterWrite(page, false, true);
  if (c.tag == 1) setTargetEdits(page, c.folder);
}

}  // namespace

std::string windowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return narrow(text);
}

void setWindowText(HWND window, const std::string& text) { SetWindowTextW(window, widen(text).c_str()); }

std::string controlText(Page& page, const PageControl& c) {
  const std::string& registered = page.runtime->registerText(page.designFileName, c.name, c.designText);
  return varsOf(page).expand(registered);
}

void applyDialogValues(Page& page) {
  DialogRuntime& rt = *page.runtime;
  createPendingWindows(page);
  suppressed(page, [&] {
    for (const auto& c : page.controls) applyControl(page, *c);
    applyFeatureControls(page);
    const std::string& formText = rt.registerText(page.designFileName, page.designFileName, page.designCaption);
    setTextIfDifferent(page.window, varsOf(page).expand(formText));
    for (const auto& c : page.controls)
      if (c->kind == ControlKind::TabSheet && c->tabIndex >= 0 && c->parent >= 0) {
        const std::wstring caption = widen(c->caption);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(caption.c_str());
        TabCtrl_SetItem(page.controls[static_cast<size_t>(c->parent)]->window, c->tabIndex, &item);
      }
    refreshStatusTexts(page);
    syncMirrorControls(page);
    evaluateDialogRules(page);
  });
  page.attached = true;
  InvalidateRect(page.window, nullptr, TRUE);
  // The bound variables start out holding what the lists show.
  for (const auto& c : page.controls)
    if (c->kind == ControlKind::CheckListBox && !c->hint.empty() && c->tag != 1)
      writeBound(page, *c, joinedItems(checkedItems(*c)), "CheckListBox1ClickCheck");
}

void detachBinding(Page& page) {
  page.attached = false;
  suppressed(page, [&] {
    refreshStatusTexts(page);
    evaluateDialogRules(page);
  });
}

void onControlCommand(Page& page, PageControl& c, UINT code) {
  if (handlersOff(page)) return;
  switch (c.kind) {
    case ControlKind::Edit:
      if (code == EN_CHANGE) edit1Change(page, c);
      break;
    case ControlKind::Memo:
    case ControlKind::RichEdit:
      if (code == EN_CHANGE && !c.hint.empty()) {
        writeBound(page, c, newlineToText(windowText(c.window)), "Memo1Change");
        afterWrite(page, true, false);
      }
      break;
    case ControlKind::Button:
      if (code == BN_CLICKED) clickRole(page, c);
      break;
    case ControlKind::Label:
    case ControlKind::StaticText:
      if (code == STN_CLICKED) clickRole(page, c);
      break;
    case ControlKind::CheckBox:
      if (code == BN_CLICKED) {
        writeBound(page, c, boolText(SendMessageW(c.window, BM_GETCHECK, 0, 0) == BST_CHECKED), "CheckBox1Click");
        evaluateDialogRules(page);
      }
      break;
    case ControlKind::Radio:
      if (code == BN_CLICKED) radioClick(page, c);
      break;
    case ControlKind::ListBox:
      if (code == LBN_SELCHANGE) {
        writeListSelection(page, c);
        evaluateDialogRules(page);
      }
      break;
    case ControlKind::ComboBox:
      if (code == CBN_SELCHANGE || code == CBN_EDITCHANGE) {
        writeBound(page, c, comboText(c, code == CBN_SELCHANGE), "ComboBox1Change");
        evaluateDialogRules(page);
      }
      break;
    case ControlKind::FolderList:
      if (code == LBN_DBLCLK) folderListActivated(page, c);
      if (code == LBN_SELCHANGE) {
        const std::vector<std::string> selected = selectedListItems(c);
        if (!selected.empty() && selected.front().front() != '[') {
          writeBound(page, c, c.folder + selected.front(), "FileListBox1Change");
          afterWrite(page, false, true);
          if (c.tag == 1) setTargetEdits(page, c.folder);
        }
      }
      break;
    case ControlKind::DriveCombo:
      if (code == CBN_SELCHANGE) {
        const std::string drive = comboText(c, true).substr(0, 1) + ":\\";
        writeBound(page, c, drive, "DriveComboBox1Change");
        afterWrite(page, false, true);
        if (c.tag == 1) setTargetEdits(page, drive);
      }
      break;
    default:
      break;
  }
}

void onControlNotify(Page& page, PageControl& c, const NMHDR& header) {
  if (c.kind == ControlKind::PageControl && header.code == TCN_SELCHANGE) {
    selectTabSheet(page, page.indexOf(&c), TabCtrl_GetCurSel(c.window));
    return;
  }
  if (handlersOff(page)) return;
  if (onFeatureNotify(page, c, header)) return;
  if (c.kind == ControlKind::CheckListBox && header.code == LVN_ITEMCHANGED) {
    const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
    if ((change.uChanged & LVIF_STATE) && ((change.uNewState ^ change.uOldState) & LVIS_STATEIMAGEMASK) && c.tag != 1) {
      writeBound(page, c, joinedItems(checkedItems(c)), "CheckListBox1ClickCheck");
      evaluateDialogRules(page);
    }
  } else if (c.kind == ControlKind::TreeView && header.code == TVN_SELCHANGEDW) {
    const auto& change = reinterpret_cast<const NMTREEVIEWW&>(header);
    wchar_t text[1024] = {};
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = change.itemNew.hItem;
    item.pszText = text;
    item.cchTextMax = 1024;
    if (item.hItem && TreeView_GetItem(c.window, &item)) writeBound(page, c, narrow(text), "TreeView1Change");
    evaluateDialogRules(page);
  }
}

void onControlScroll(Page& page, PageControl& c) {
  if (handlersOff(page) || c.kind != ControlKind::TrackBar) return;
  writeBound(page, c, std::to_string(SendMessageW(c.window, TBM_GETPOS, 0, 0)), "TrackBar1Change");
  evaluateDialogRules(page);
}

void onDrawnClick(Page& page, PageControl& c) {
  if (handlersOff(page)) return;
  clickRole(page, c);
}

void onDialogKey(Page& page, bool cancelKey) {
  if (handlersOff(page)) return;
  for (const auto& c : page.controls) {
    if (c->kind != ControlKind::Button || !c->window || !IsWindowEnabled(c->window) || !IsWindowVisible(c->window)) continue;
    if (cancelKey ? c->isCancel : c->isDefault) {
      clickRole(page, *c);
      return;
    }
  }
}

void refreshStatusTexts(Page& page) {
  refreshFeatureStatusTexts(page);
  VariableStore& v = varsOf(page);
  for (const auto& c : page.controls) {
    if (c->kind != ControlKind::StaticText || c->tag != 5 || !c->window) continue;
    // Free space on the drive of TARGETDIR. Component descriptions and sizes (tags 2, 3, 4 and 6) come
    // with the component lists; until then those texts stay as designed.
    std::string text;
    if (!v.exists("TARGETDIR")) {
      text = sizeText(-1);
    } else {
      ULARGE_INTEGER free{};
      const std::string base = targetBase(page);
      text = !base.empty() && GetDiskFreeSpaceExW(widen(base).c_str(), &free, nullptr, nullptr)
                 ? sizeText(static_cast<int64_t>(std::min<uint64_t>(free.QuadPart, INT64_MAX)))
                 : std::string();
    }
    setTextIfDifferent(c->window, text);
  }
}

void syncMirrorControls(Page& page) {
  VariableStore& v = varsOf(page);
  suppressed(page, [&] {
    for (const auto& c : page.controls) {
      if (c->tag != 100 || c->hint.empty() || !c->window) continue;
      const std::string value = v.exists(c->hint) ? v.expandPath(v.getValue(c->hint)) : std::string();
      if (c->kind == ControlKind::Edit) setTextIfDifferent(c->window, value);
      else if (c->kind == ControlKind::FolderList && folderExists(value)) fillFolderList(*c, value);
      else if (c->kind == ControlKind::DriveCombo) selectDrive(*c, value);
    }
  });
}

void evaluateDialogRules(Page& page) { runDialogRules(page); }

}  // namespace orv
