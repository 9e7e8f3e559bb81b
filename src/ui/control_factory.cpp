#include "ui/control_factory.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <stdexcept>

#include "core/text.h"
#include "platform/libraries.h"
#include "platform/strings.h"
#include "ui/page_window.h"
#include "ui/dialog_pool.h"
#include "ui/picture.h"

namespace orv {
namespace {

using design::Object;
using design::Property;
using design::Value;
using design::ValueType;

constexpr int kMaxCoordinate = 16000;

struct ClassRow {
  const char* name;
  ControlKind kind;
};

// The registered classes. Unknown classes (and the designer's own component) get no window.
constexpr ClassRow kClasses[] = {
    {"TLabel", ControlKind::Label},           {"TGlowLabel", ControlKind::StaticText},
    {"TStaticText", ControlKind::StaticText}, {"TEdit", ControlKind::Edit},
    {"TMaskEdit", ControlKind::Edit},         {"TMemo", ControlKind::Memo},
    {"TRichEdit", ControlKind::RichEdit},     {"TButton", ControlKind::Button},
    {"TBitBtn", ControlKind::Button},         {"TSpeedButton", ControlKind::Button},
    {"TAeroButton", ControlKind::Button},     {"TAeroBackButton", ControlKind::Button},
    {"TAeroPngButton", ControlKind::Button},  {"TRzBmpButton", ControlKind::Button},
    {"TRzCheckBox", ControlKind::CheckBox},   {"TRzRadioButton", ControlKind::Radio},
    {"TListBox", ControlKind::ListBox},       {"TComboBox", ControlKind::ComboBox},
    {"TFilterComboBox", ControlKind::ComboBox}, {"TCheckListBox", ControlKind::CheckListBox},
    {"TGroupBox", ControlKind::GroupBox},     {"TPanel", ControlKind::Panel},
    {"TBevel", ControlKind::Bevel},           {"TShape", ControlKind::Shape},
    {"TImage", ControlKind::Image},           {"TAeroPngImage", ControlKind::Image},
    {"TProgressBar", ControlKind::ProgressBar}, {"TGauge", ControlKind::ProgressBar},
    {"TTrackBar", ControlKind::TrackBar},     {"TUpDown", ControlKind::UpDown},
    {"TPageControl", ControlKind::PageControl}, {"TTabSheet", ControlKind::TabSheet},
    {"TTreeView", ControlKind::TreeView},     {"TDirectoryListBox", ControlKind::FolderList},
    {"TFileListBox", ControlKind::FolderList}, {"TPTShellTree", ControlKind::FolderList},
    {"TPTShellList", ControlKind::FolderList}, {"TDriveComboBox", ControlKind::DriveCombo},
    {"TPTShellCombo", ControlKind::DriveCombo}, {"THTMLViewer", ControlKind::Placeholder},
    {"TFlashFrame", ControlKind::Placeholder}, {"TAnimate", ControlKind::Placeholder},
    {"TVistaGlass", ControlKind::Hidden},     {"TRzFormShape", ControlKind::Hidden},
};

ControlKind kindOf(std::string_view className) {
  for (const ClassRow& row : kClasses)
    if (equalsNoCase(row.name, className)) return row.kind;
  return ControlKind::Hidden;
}

// ---- design property reading ----

const Value* valueOf(const Object& o, std::string_view name) {
  const Property* p = o.property(name);
  return p ? &p->value : nullptr;
}

std::optional<int64_t> integerOf(const Object& o, std::string_view name) {
  const Value* v = valueOf(o, name);
  if (v && design::isIntegerType(v->type)) return v->integer;
  return std::nullopt;
}

std::string textOf(const Object& o, std::string_view name) {
  const Value* v = valueOf(o, name);
  if (v && (design::isStringType(v->type) || v->type == ValueType::Ident)) return v->text;
  return {};
}

bool boolOf(const Object& o, std::string_view name, bool fallback) {
  const Value* v = valueOf(o, name);
  if (!v) return fallback;
  if (v->type == ValueType::True) return true;
  if (v->type == ValueType::False) return false;
  return fallback;
}

std::vector<std::string> linesOf(const Object& o, std::string_view name) {
  std::vector<std::string> lines;
  const Value* v = valueOf(o, name);
  if (!v || v->type != ValueType::List) return lines;
  for (const Value& item : v->list)
    if (design::isStringType(item.type)) lines.push_back(item.text);
  return lines;
}

bool hasIdentifier(const Value* v, std::string_view identifier) {
  if (!v || v->type != ValueType::Set) return false;
  return std::any_of(v->identifiers.begin(), v->identifiers.end(),
                     [&](const std::string& s) { return equalsNoCase(s, identifier); });
}

struct NamedColor {
  const char* name;
  int value;  // >= 0: RGB as 0x00BBGGRR; < 0: -(system colour index + 1)
};
constexpr NamedColor kColors[] = {
    {"clBlack", 0x000000},   {"clMaroon", 0x000080}, {"clGreen", 0x008000},  {"clOlive", 0x008080},
    {"clNavy", 0x800000},    {"clPurple", 0x800080}, {"clTeal", 0x808000},   {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},  {"clRed", 0x0000FF},    {"clLime", 0x00FF00},   {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},    {"clFuchsia", 0xFF00FF}, {"clAqua", 0xFFFF00},  {"clWhite", 0xFFFFFF},
    {"clBtnFace", -(COLOR_BTNFACE + 1)},   {"clWindow", -(COLOR_WINDOW + 1)},
    {"clWindowText", -(COLOR_WINDOWTEXT + 1)}, {"clBtnText", -(COLOR_BTNTEXT + 1)},
    {"clHighlight", -(COLOR_HIGHLIGHT + 1)}, {"clHighlightText", -(COLOR_HIGHLIGHTTEXT + 1)},
    {"clBtnShadow", -(COLOR_BTNSHADOW + 1)}, {"clBtnHighlight", -(COLOR_BTNHIGHLIGHT + 1)},
    {"clGrayText", -(COLOR_GRAYTEXT + 1)}, {"clInfoBk", -(COLOR_INFOBK + 1)},
    {"clActiveCaption", -(COLOR_ACTIVECAPTION + 1)}, {"clHotLight", -(COLOR_HOTLIGHT + 1)},
};

COLORREF colorOf(const Object& o, std::string_view name) {
  const Value* v = valueOf(o, name);
  if (!v) return CLR_INVALID;
  if (design::isIntegerType(v->type)) {
    const int64_t n = v->integer;
    if (n < 0) return GetSysColor(static_cast<int>(n & 0xFF));  // 0x800000nn: system colour nn
    return static_cast<COLORREF>(n & 0xFFFFFF);
  }
  if (v->type == ValueType::Ident) {
    for (const NamedColor& c : kColors)
      if (equalsNoCase(c.name, v->text))
        return c.value >= 0 ? static_cast<COLORREF>(c.value) : GetSysColor(-c.value - 1);
  }
  return CLR_INVALID;
}

int clampCoordinate(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, -kMaxCoordinate, kMaxCoordinate)); }

// ---- fonts ----

struct FontSpec {
  std::string name = "Tahoma";
  int height = -11;  // pixels at 96 dpi, negative: character height
  bool bold = false, italic = false, underline = false, strikeOut = false;
  int charset = DEFAULT_CHARSET;
  COLORREF color = CLR_INVALID;
};

bool hasFontProperties(const Object& o) {
  return std::any_of(o.properties.begin(), o.properties.end(),
                     [](const Property& p) { return startsWithNoCase(p.name, "Font."); });
}

FontSpec fontOf(const Object& o, FontSpec inherited, int designPpi) {
  if (!hasFontProperties(o) && boolOf(o, "ParentFont", true)) return inherited;
  FontSpec f = inherited;
  if (std::string name = textOf(o, "Font.Name"); !name.empty()) {
    // The old bitmap dialog faces look ragged where they are replaced; the designer's intent is the
    // system's dialog face.
    f.name = equalsNoCase(name, "MS Sans Serif") || equalsNoCase(name, "MS Shell Dlg") ? "Tahoma" : name;
  }
  if (auto h = integerOf(o, "Font.Height")) f.height = static_cast<int>(std::clamp<int64_t>(*h, -500, 500)) * 96 / designPpi;
  else if (auto size = integerOf(o, "Font.Size")) f.height = -static_cast<int>(std::clamp<int64_t>(*size, 1, 400) * 96 / 72);
  if (const Value* style = valueOf(o, "Font.Style")) {
    f.bold = hasIdentifier(style, "fsBold");
    f.italic = hasIdentifier(style, "fsItalic");
    f.underline = hasIdentifier(style, "fsUnderline");
    f.strikeOut = hasIdentifier(style, "fsStrikeOut");
  }
  if (auto cs = integerOf(o, "Font.Charset")) f.charset = static_cast<int>(*cs & 0xFF);
  if (const COLORREF c = colorOf(o, "Font.Color"); c != CLR_INVALID) f.color = c;
  return f;
}

HFONT fontHandle(Page& page, const FontSpec& spec, int dpi) {
  LOGFONTW lf{};
  lf.lfHeight = MulDiv(spec.height, dpi, 96);
  lf.lfWeight = spec.bold ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = spec.italic;
  lf.lfUnderline = spec.underline;
  lf.lfStrikeOut = spec.strikeOut;
  lf.lfCharSet = static_cast<BYTE>(spec.charset);
  lf.lfQuality = CLEARTYPE_QUALITY;
  const std::wstring face = widen(spec.name).substr(0, LF_FACESIZE - 1);
  wcscpy(lf.lfFaceName, face.c_str());
  return page.runtime->gdi.font(lf);
}

// ---- native windows ----

struct NativeStyle {
  const wchar_t* cls = L"STATIC";
  DWORD style = 0;
  DWORD exStyle = 0;
};

const wchar_t* richEditClass() {
  static const wchar_t* cls = [] {
    if (loadSystemLibrary(L"msftedit.dll")) return L"RICHEDIT50W";
    if (loadSystemLibrary(L"riched20.dll")) return L"RichEdit20W";
    return L"EDIT";
  }();
  return cls;
}

DWORD alignmentStyle(const std::string& alignment) {
  if (equalsNoCase(alignment, "taCenter")) return SS_CENTER;
  if (equalsNoCase(alignment, "taRightJustify")) return SS_RIGHT;
  return SS_LEFT;
}

NativeStyle nativeStyleOf(const PageControl& c, const Object& o) {
  NativeStyle n;
  const std::string scrollBars = textOf(o, "ScrollBars");
  switch (c.kind) {
    case ControlKind::Label:
    case ControlKind::StaticText: {
      n.style = SS_NOTIFY | alignmentStyle(c.alignment);
      if (!boolOf(o, "WordWrap", c.kind == ControlKind::StaticText) && n.style == (SS_NOTIFY | SS_LEFT))
        n.style = SS_NOTIFY | SS_LEFTNOWORDWRAP;
      if (equalsNoCase(textOf(o, "Layout"), "tlCenter")) n.style |= SS_CENTERIMAGE;
      if (!boolOf(o, "ShowAccelChar", true)) n.style |= SS_NOPREFIX;
      if (c.kind == ControlKind::StaticText && !equalsNoCase(textOf(o, "BorderStyle"), "sbsNone") &&
          !textOf(o, "BorderStyle").empty())
        n.exStyle |= WS_EX_STATICEDGE;
      break;
    }
    case ControlKind::Edit:
      n.cls = L"EDIT";
      n.style = WS_TABSTOP | ES_AUTOHSCROLL;
      n.exStyle = WS_EX_CLIENTEDGE;
      if (const Value* pw = valueOf(o, "PasswordChar"); pw && !pw->text.empty() && pw->text != std::string(1, '\0'))
        n.style |= ES_PASSWORD;
      if (equalsNoCase(textOf(o, "CharCase"), "ecUpperCase")) n.style |= ES_UPPERCASE;
      if (equalsNoCase(textOf(o, "CharCase"), "ecLowerCase")) n.style |= ES_LOWERCASE;
      break;
    case ControlKind::Memo:
    case ControlKind::RichEdit:
      n.cls = c.kind == ControlKind::Memo ? L"EDIT" : richEditClass();
      n.style = WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL;
      n.exStyle = WS_EX_CLIENTEDGE;
      if (equalsNoCase(scrollBars, "ssVertical") || equalsNoCase(scrollBars, "ssBoth") || c.kind == ControlKind::RichEdit)
        n.style |= WS_VSCROLL;
      if (equalsNoCase(scrollBars, "ssHorizontal") || equalsNoCase(scrollBars, "ssBoth")) n.style |= WS_HSCROLL;
      if (!boolOf(o, "WordWrap", true)) n.style |= ES_AUTOHSCROLL;
      break;
    case ControlKind::Button:
      n.cls = L"BUTTON";
      n.style = WS_TABSTOP | (boolOf(o, "Default", false) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
      break;
    case ControlKind::CheckBox:
      n.cls = L"BUTTON";
      n.style = WS_TABSTOP | BS_AUTOCHECKBOX | (boolOf(o, "WordWrap", false) ? BS_MULTILINE : 0);
      break;
    case ControlKind::Radio:
      // Grouped by container, as the design means: the page checks and unchecks them itself.
      n.cls = L"BUTTON";
      n.style = WS_TABSTOP | BS_RADIOBUTTON | (boolOf(o, "WordWrap", false) ? BS_MULTILINE : 0);
      break;
    case ControlKind::ListBox:
      n.cls = L"LISTBOX";
      n.style = WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
      n.exStyle = WS_EX_CLIENTEDGE;
      if (c.multiSelect) n.style |= boolOf(o, "ExtendedSelect", true) ? LBS_EXTENDEDSEL : LBS_MULTIPLESEL;
      if (boolOf(o, "Sorted", false)) n.style |= LBS_SORT;
      break;
    case ControlKind::FolderList:
      n.cls = L"LISTBOX";
      n.style = WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
      n.exStyle = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::ComboBox:
    case ControlKind::DriveCombo:
      n.cls = L"COMBOBOX";
      n.style = WS_TABSTOP | WS_VSCROLL | CBS_AUTOHSCROLL | (c.dropDownList ? CBS_DROPDOWNLIST : CBS_DROPDOWN);
      if (boolOf(o, "Sorted", false)) n.style |= CBS_SORT;
      break;
    case ControlKind::CheckListBox:
      n.cls = WC_LISTVIEWW;
      n.style = WS_TABSTOP | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
      n.exStyle = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::ProgressBar:
      n.cls = PROGRESS_CLASSW;
      n.style = c.marquee ? PBS_MARQUEE : 0;
      if (equalsNoCase(textOf(o, "Orientation"), "pbVertical")) n.style |= PBS_VERTICAL;
      break;
    case ControlKind::TrackBar:
      n.cls = TRACKBAR_CLASSW;
      n.style = WS_TABSTOP | TBS_AUTOTICKS | (equalsNoCase(textOf(o, "Orientation"), "trVertical") ? TBS_VERT : TBS_HORZ);
      break;
    case ControlKind::UpDown:
      n.cls = UPDOWN_CLASSW;
      n.style = UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS |
                (equalsNoCase(textOf(o, "Orientation"), "udHorizontal") ? UDS_HORZ : 0);
      break;
    case ControlKind::PageControl:
      n.cls = WC_TABCONTROLW;
      n.style = WS_TABSTOP;
      break;
    case ControlKind::TreeView:
      n.cls = WC_TREEVIEWW;
      n.style = WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS;
      n.exStyle = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::Placeholder:
      n.style = SS_CENTER | SS_CENTERIMAGE;
      n.exStyle = WS_EX_CLIENTEDGE;
      break;
    default:
      n.cls = nullptr;  // drawn by the page or not shown
  }
  return n;
}

// A drop-down list costs several times an edit under some window systems (its list is a window of its
// own); pages build faster without them and make them when the machine is idle or the page is filled.
bool madeAfterStartUp(ControlKind kind) { return kind == ControlKind::ComboBox || kind == ControlKind::DriveCombo; }

// A control's window with its font; false when the system refused it.
bool makeWindow(Page& page, PageControl& c, int index, const NativeStyle& n, int dpi) {
  int height = c.bounds.bottom - c.bounds.top;
  if (c.kind == ControlKind::ComboBox || c.kind == ControlKind::DriveCombo) height += MulDiv(200, dpi, 96);
  const int id = kFirstControlId + index;
  c.window = CreateWindowExW(n.exStyle, n.cls, L"", WS_CHILD | WS_CLIPSIBLINGS | n.style, c.bounds.left, c.bounds.top,
                             c.bounds.right - c.bounds.left, height, page.window,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (!c.window) return false;
  SendMessageW(c.window, WM_SETFONT, reinterpret_cast<WPARAM>(c.font), FALSE);
  return true;
}

void fillDrives(PageControl& c) {
  wchar_t drives[512];
  const DWORD n = GetLogicalDriveStringsW(511, drives);
  for (const wchar_t* d = drives; n && n < 512 && *d; d += wcslen(d) + 1)
    SendMessageW(c.window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(d));
}

class PageBuilder {
 public:
  PageBuilder(Page& page, int dpi, int designPpi) : page_(page), dpi_(dpi), designPpi_(designPpi) {}

  void build(const Object& root, const FontSpec& formFont) {
    addChildren(root, -1, POINT{0, 0}, formFont);
    finishContainers();
    connectUpDowns();
  }

 private:
  int scaled(int64_t v) const { return MulDiv(clampCoordinate(v), dpi_, designPpi_); }

  // Children in tab order, so keyboard navigation follows the design.
  static std::vector<const Object*> inTabOrder(const Object& parent) {
    std::vector<const Object*> children;
    for (const Object& child : parent.children) children.push_back(&child);
    std::stable_sort(children.begin(), children.end(), [](const Object* a, const Object* b) {
      return integerOf(*a, "TabOrder").value_or(1 << 20) < integerOf(*b, "TabOrder").value_or(1 << 20);
    });
    return children;
  }

  void addChildren(const Object& parent, int parentIndex, POINT origin, const FontSpec& parentFont) {
    for (const Object* child : inTabOrder(parent)) {
      if (equalsNoCase(child->name, "cmpFormDesigner")) continue;
      if (page_.controls.size() >= kMaxPageControls) throw std::runtime_error("The page has too many controls.");
      add(*child, parentIndex, origin, parentFont);
    }
  }

  RECT tabSheetBounds(int pageControlIndex) const {
    const PageControl& pc = *page_.controls[static_cast<size_t>(pageControlIndex)];
    RECT display = pc.bounds;
    if (pc.window) {
      RECT client{0, 0, pc.bounds.right - pc.bounds.left, pc.bounds.bottom - pc.bounds.top};
      TabCtrl_AdjustRect(pc.window, FALSE, &client);
      OffsetRect(&client, pc.bounds.left, pc.bounds.top);
      display = client;
    }
    return display;
  }

  void add(const Object& o, int parentIndex, POINT origin, const FontSpec& parentFont) {
    auto c = std::make_unique<PageControl>();
    c->name = o.name;
    c->className = o.className;
    c->kind = kindOf(o.className);
    c->parent = parentIndex;
    c->hint = textOf(o, "Hint");
    c->tag = integerOf(o, "Tag").value_or(0);
    c->designText = valueOf(o, "Caption") ? textOf(o, "Caption") : textOf(o, "Text");
    c->designItems = linesOf(o, c->kind == ControlKind::Memo || c->kind == ControlKind::RichEdit ? "Lines.Strings"
                                                                                                : "Items.Strings");
    c->visible = boolOf(o, "Visible", true) && boolOf(o, "TabVisible", true);
    c->enabled = boolOf(o, "Enabled", true);
    c->readOnly = boolOf(o, "ReadOnly", false);
    c->multiSelect = boolOf(o, "MultiSelect", false);
    c->dropDownList = equalsNoCase(textOf(o, "Style"), "csDropDownList") || c->kind == ControlKind::DriveCombo;
    c->checked = boolOf(o, "Checked", false) || equalsNoCase(textOf(o, "State"), "cbChecked");
    c->maxLength = static_cast<int>(std::clamp<int64_t>(integerOf(o, "MaxLength").value_or(0), 0, 1 << 30));
    c->marquee = equalsNoCase(textOf(o, "Style"), "pbstMarquee");
    c->alignment = textOf(o, "Alignment");
    const bool gauge = equalsNoCase(o.className, "TGauge");
    c->minimum = integerOf(o, gauge ? "MinValue" : "Min").value_or(0);
    c->maximum = integerOf(o, gauge ? "MaxValue" : "Max").value_or(c->kind == ControlKind::TrackBar ? 10 : 100);
    c->position = integerOf(o, gauge ? "Progress" : "Position").value_or(0);
    c->color = colorOf(o, c->kind == ControlKind::Shape ? "Brush.Color" : "Color");
    if (c->kind == ControlKind::Shape && c->color == CLR_INVALID) c->color = RGB(255, 255, 255);
    if (const COLORREF pen = colorOf(o, "Pen.Color"); pen != CLR_INVALID) c->penColor = pen;
    c->shapeKind = textOf(o, "Shape");
    c->stretch = boolOf(o, "Stretch", false);
    c->center = boolOf(o, "Center", false);
    c->proportional = boolOf(o, "Proportional", false);
    if (const Value* picture = valueOf(o, "Picture.Data"); picture && picture->type == ValueType::Binary)
      c->picture = page_.runtime->gdi.picture(picture->text, c->pictureSize, pictureFromDesignData);
    if (c->kind == ControlKind::Panel || c->kind == ControlKind::GroupBox) c->caption = c->designText;
    c->bevelOuter = valueOf(o, "BevelOuter") ? textOf(o, "BevelOuter") : "bvRaised";
    c->bevelInner = textOf(o, "BevelInner");
    c->bevelStyle = textOf(o, "Style");
    c->isDefault = boolOf(o, "Default", false);
    c->isCancel = boolOf(o, "Cancel", false);

    const FontSpec font = fontOf(o, parentFont, designPpi_);
    c->font = fontHandle(page_, font, dpi_);
    c->fontColor = font.color;

    if (c->kind == ControlKind::TabSheet && parentIndex >= 0) {
      c->bounds = tabSheetBounds(parentIndex);
    } else {
      const int left = origin.x + scaled(integerOf(o, "Left").value_or(0));
      const int top = origin.y + scaled(integerOf(o, "Top").value_or(0));
      const int width = std::max(0, scaled(integerOf(o, "Width").value_or(0)));
      const int height = std::max(0, scaled(integerOf(o, "Height").value_or(0)));
      c->bounds = RECT{left, top, left + width, top + height};
    }
    createWindow(*c, o);

    const int index = static_cast<int>(page_.controls.size());
    PageControl& placed = *c;
    page_.controls.push_back(std::move(c));
    if (placed.kind == ControlKind::TabSheet && parentIndex >= 0) addTab(placed, parentIndex, index);
    buddies_.emplace_back(index, textOf(o, "Associate"));
    if (equalsNoCase(textOf(o, "ActivePage"), "") == false) activePages_.emplace_back(index, textOf(o, "ActivePage"));
    if (!o.children.empty()) addChildren(o, index, POINT{placed.bounds.left, placed.bounds.top}, font);
  }

  void createWindow(PageControl& c, const Object& o) {
    const NativeStyle n = nativeStyleOf(c, o);
    if (!n.cls) return;
    const int index = static_cast<int>(page_.controls.size());
    if (madeAfterStartUp(c.kind)) {
      page_.pendingWindows.push_back(PendingWindow{index, n.cls, n.style, n.exStyle});
      return;
    }
    if (!makeWindow(page_, c, index, n, dpi_)) return;
    initialise(c, o);
    if (!c.enabled) EnableWindow(c.window, FALSE);
  }

  void initialise(PageControl& c, const Object& o) {
    switch (c.kind) {
      case ControlKind::Edit:
        if (c.maxLength > 0) SendMessageW(c.window, EM_LIMITTEXT, static_cast<WPARAM>(c.maxLength), 0);
        if (c.readOnly) SendMessageW(c.window, EM_SETREADONLY, TRUE, 0);
        break;
      case ControlKind::Memo:
      case ControlKind::RichEdit:
        SendMessageW(c.window, EM_LIMITTEXT, static_cast<WPARAM>(c.maxLength > 0 ? c.maxLength : 1 << 20), 0);
        if (c.kind == ControlKind::RichEdit) SendMessageW(c.window, EM_SETEVENTMASK, 0, ENM_CHANGE);
        break;
      case ControlKind::CheckBox:
      case ControlKind::Radio:
        SendMessageW(c.window, BM_SETCHECK, c.checked ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
      case ControlKind::CheckListBox: {
        ListView_SetExtendedListViewStyle(c.window, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
        LVCOLUMNW column{};
        column.mask = LVCF_WIDTH;
        RECT client;
        GetClientRect(c.window, &client);
        column.cx = client.right - client.left;
        ListView_InsertColumn(c.window, 0, &column);
        break;
      }
      case ControlKind::ProgressBar:
        SendMessageW(c.window, PBM_SETRANGE32, static_cast<WPARAM>(c.minimum), static_cast<LPARAM>(c.maximum));
        SendMessageW(c.window, PBM_SETPOS, static_cast<WPARAM>(c.position), 0);
        if (c.marquee) SendMessageW(c.window, PBM_SETMARQUEE, TRUE, 100);
        break;
      case ControlKind::TrackBar:
        SendMessageW(c.window, TBM_SETRANGEMIN, FALSE, static_cast<LPARAM>(c.minimum));
        SendMessageW(c.window, TBM_SETRANGEMAX, FALSE, static_cast<LPARAM>(c.maximum));
        SendMessageW(c.window, TBM_SETTICFREQ, static_cast<WPARAM>(integerOf(o, "Frequency").value_or(1)), 0);
        SendMessageW(c.window, TBM_SETPOS, TRUE, static_cast<LPARAM>(c.position));
        break;
      case ControlKind::UpDown:
        SendMessageW(c.window, UDM_SETRANGE32, static_cast<WPARAM>(c.minimum), static_cast<LPARAM>(c.maximum));
        SendMessageW(c.window, UDM_SETPOS32, 0, static_cast<LPARAM>(c.position));
        break;
      case ControlKind::TreeView:
        if (boolOf(o, "CheckBoxes", false))
          SetWindowLongPtrW(c.window, GWL_STYLE, GetWindowLongPtrW(c.window, GWL_STYLE) | TVS_CHECKBOXES);
        break;
      default:
        break;
    }
  }

  void addTab(PageControl& sheet, int pageControlIndex, int sheetIndex) {
    PageControl& pc = *page_.controls[static_cast<size_t>(pageControlIndex)];
    sheet.tabIndex = -1;
    if (!pc.window || !sheet.visible) return;
    const std::wstring caption = widen(sheet.designText);
    TCITEMW item{};
    item.mask = TCIF_TEXT | TCIF_PARAM;
    item.pszText = const_cast<wchar_t*>(caption.c_str());
    item.lParam = sheetIndex;
    sheet.tabIndex = TabCtrl_InsertItem(pc.window, TabCtrl_GetItemCount(pc.window), &item);
    sheet.checked = sheet.tabIndex == 0;  // the first tab shows until the design names another
  }

  // Containers under the controls they hold, so that the controls draw over them.
  void finishContainers() {
    for (const auto& c : page_.controls)
      if ((c->kind == ControlKind::GroupBox || c->kind == ControlKind::PageControl) && c->window)
        SetWindowPos(c->window, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    for (const auto& [index, name] : activePages_) {
      PageControl* sheet = page_.find(name);
      if (sheet && sheet->kind == ControlKind::TabSheet && sheet->tabIndex >= 0) selectTabSheet(page_, index, sheet->tabIndex);
    }
  }

  void connectUpDowns() {
    for (const auto& [index, associate] : buddies_) {
      PageControl& c = *page_.controls[static_cast<size_t>(index)];
      if (c.kind != ControlKind::UpDown || !c.window || associate.empty()) continue;
      if (PageControl* buddy = page_.find(associate); buddy && buddy->window) {
        SendMessageW(c.window, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy->window), 0);
        SendMessageW(c.window, UDM_SETPOS32, 0, static_cast<LPARAM>(c.position));
      }
    }
  }

  Page& page_;
  int dpi_;
  int designPpi_;
  std::vector<std::pair<int, std::string>> buddies_;
  std::vector<std::pair<int, std::string>> activePages_;
};

int screenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

}  // namespace

std::unique_ptr<Page> buildPage(DialogRuntime& runtime, const design::Object& root, const std::string& key,
                                const std::string& designFileName) {
  auto page = std::make_unique<Page>();
  page->runtime = &runtime;
  page->key = key;
  page->designFileName = designFileName;
  page->formName = root.name;
  page->designCaption = textOf(root, "Caption");
  const int dpi = screenDpi();
  const int designPpi = static_cast<int>(std::clamp<int64_t>(integerOf(root, "PixelsPerInch").value_or(96), 48, 480));
  auto scaled = [&](int64_t v) { return MulDiv(clampCoordinate(v), dpi, designPpi); };
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
  if (auto w = integerOf(root, "ClientWidth")) page->clientWidth = std::max(1, scaled(*w));
  if (auto h = integerOf(root, "ClientHeight")) page->clientHeight = std::max(1, scaled(*h));
  if (!valueOf(root, "ClientWidth") && integerOf(root, "Width")) page->clientWidth = std::max(1, scaled(*integerOf(root, "Width")) - 6);
  if (!valueOf(root, "ClientHeight") && integerOf(root, "Height"))
    page->clientHeight = std::max(1, scaled(*integerOf(root, "Height")) - 25);
  page->color = colorOf(root, "Color");
  RECT frame{0, 0, page->clientWidth, page->clientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  page->window = CreateWindowExW(exStyle, pageWindowClass(), widen(page->designCaption).c_str(), style, 0, 0,
                                 frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), page.get());
  if (!page->window) throw std::runtime_error("The window of the page " + designFileName + " cannot be created.");
  FontSpec formFont;
  formFont = fontOf(root, formFont, designPpi);
  page->font = fontHandle(*page, formFont, dpi);
  PageBuilder(*page, dpi, designPpi).build(root, formFont);
  applyVisibility(*page);
  return page;
}

bool hasPendingWindows(const Page& page) { return !page.pendingWindows.empty(); }

void createPendingWindows(Page& page) {
  if (page.pendingWindows.empty()) return;
  const int dpi = screenDpi();
  std::vector<PendingWindow> pending;
  pending.swap(page.pendingWindows);
  for (const PendingWindow& p : pending) {
    PageControl& c = *page.controls[static_cast<size_t>(p.control)];
    NativeStyle n;
    n.cls = p.windowClass;
    n.style = p.style;
    n.exStyle = p.exStyle;
    if (!makeWindow(page, c, p.control, n, dpi)) continue;
    if (c.kind == ControlKind::DriveCombo) fillDrives(c);
    if (!c.enabled) EnableWindow(c.window, FALSE);
    // Keyboard order is window order: right after the windowed control designed before it.
    HWND before = nullptr;
    for (int i = p.control - 1; i >= 0 && !before; --i) before = page.controls[static_cast<size_t>(i)]->window;
    SetWindowPos(c.window, before ? before : HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (page.effectivelyVisible(c)) ShowWindow(c.window, SW_SHOWNA);
  }
}

void selectTabSheet(Page& page, int pageControl, int tab) {
  PageControl& pc = *page.controls[static_cast<size_t>(pageControl)];
  if (pc.window) TabCtrl_SetCurSel(pc.window, tab);
  for (const auto& c : page.controls)
    if (c->kind == ControlKind::TabSheet && c->parent == pageControl) c->checked = c->tabIndex == tab;
  applyVisibility(page);
}

void applyVisibility(Page& page) {
  for (const auto& c : page.controls) {
    if (!c->window) continue;
    const bool show = page.effectivelyVisible(*c);
    if ((IsWindowVisible(c->window) != FALSE) != show || (GetWindowLongW(c->window, GWL_STYLE) & WS_VISIBLE) != (show ? WS_VISIBLE : 0))
      ShowWindow(c->window, show ? SW_SHOWNA : SW_HIDE);
  }
  InvalidateRect(page.window, nullptr, TRUE);
}

void fillFolderList(PageControl& control, const std::string& folder) {
  if (!control.window) return;
  control.folder = withTrailingBackslash(folder);
  SendMessageW(control.window, WM_SETREDRAW, FALSE, 0);
  SendMessageW(control.window, LB_RESETCONTENT, 0, 0);
  const bool files = equalsNoCase(control.className, "TFileListBox") || equalsNoCase(control.className, "TPTShellList");
  if (control.folder.size() > 3) SendMessageW(control.window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"[..]"));
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(widen(control.folder + "*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (isFolder) SendMessageW(control.window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>((L"[" + name + L"]").c_str()));
      else if (files) SendMessageW(control.window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  SendMessageW(control.window, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(control.window, nullptr, TRUE);
}

void selectDrive(PageControl& control, const std::string& path) {
  if (!control.window || path.size() < 2 || path[1] != ':') return;
  const std::wstring drive = widen(upper(path.substr(0, 1)) + ":\\");
  const LRESULT at = SendMessageW(control.window, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(drive.c_str()));
  if (at != CB_ERR) SendMessageW(control.window, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
}

}  // namespace orv
