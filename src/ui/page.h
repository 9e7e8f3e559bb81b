// A loaded wizard page: its window, the controls built from its design and the page's own state. The
// runtime (dialog_pool.h) owns pages; the factory builds them, the binding fills and reads them.
#pragma once
#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

struct DialogRuntime;

// The native stand-in chosen for a design class.
enum class ControlKind {
  Label,         // TLabel
  StaticText,    // TStaticText, TGlowLabel
  Edit,          // TEdit, TMaskEdit
  Memo,          // TMemo
  RichEdit,      // TRichEdit
  Button,        // TButton and the other push buttons
  CheckBox,      // TRzCheckBox
  Radio,         // TRzRadioButton
  ListBox,       // TListBox
  ComboBox,      // TComboBox, TFilterComboBox
  CheckListBox,  // TCheckListBox
  GroupBox,      // TGroupBox (drawn by the page, so that it is transparent over the page's background)
  Panel,         // TPanel (drawn by the page)
  Bevel,         // TBevel (drawn)
  Shape,         // TShape (drawn)
  Image,         // TImage (drawn)
  ProgressBar,   // TProgressBar, TGauge
  TrackBar,      // TTrackBar
  UpDown,        // TUpDown
  PageControl,   // TPageControl
  TabSheet,      // TTabSheet (a group of controls shown with its tab)
  TreeView,      // TTreeView
  FolderList,    // TDirectoryListBox, TFileListBox, TPTShellTree, TPTShellList: folder-browsing stand-ins
  DriveCombo,    // TDriveComboBox, TPTShellCombo
  Placeholder,   // THTMLViewer, TFlashFrame, TAnimate: a plain framed area
  Hidden,        // registered but without a look of its own (TVistaGlass, TRzFormShape)
};

struct PageControl {
  std::string name;
  std::string className;
  ControlKind kind = ControlKind::Hidden;
  int parent = -1;  // index of the container control, -1 for the page itself
  HWND window = nullptr;
  RECT bounds{};  // in page client pixels
  std::string hint;
  int64_t tag = 0;
  std::string designText;  // Caption or Text as designed
  std::string caption;     // what a drawn control (panel, group box, tab sheet) shows now
  std::vector<std::string> designItems;
  bool visible = true;   // own Visible property
  bool enabled = true;
  bool readOnly = false;
  bool multiSelect = false;
  bool dropDownList = false;
  bool checked = false;
  bool marquee = false;
  int maxLength = 0;
  int64_t minimum = 0, maximum = 100, position = 0;
  COLORREF color = CLR_INVALID;      // background (panels, shapes)
  COLORREF penColor = RGB(0, 0, 0);  // shapes and bevels
  COLORREF fontColor = CLR_INVALID;
  std::string shapeKind;  // TShape.Shape / TBevel.Shape
  HFONT font = nullptr;   // owned by the runtime's GDI cache
  HBITMAP picture = nullptr;       // the shown picture: a design picture of the GDI cache, or ownedPicture
  HBITMAP ownedPicture = nullptr;  // loaded from a file for this control alone
  SIZE pictureSize{};
  bool stretch = false, center = false, proportional = false;
  std::string folder;  // folder stand-ins: the folder shown
  int tabIndex = -1;   // tab sheets: their tab in the page control
  std::string alignment;
  std::string bevelOuter, bevelInner;  // panels
  std::string bevelStyle;              // bevels: bsLowered / bsRaised
  bool isDefault = false;  // the button Enter presses
  bool isCancel = false;   // the button Escape presses
};

// A control whose window is made after start-up (see createPendingWindows).
struct PendingWindow {
  int control = -1;
  const wchar_t* windowClass = nullptr;
  DWORD style = 0, exStyle = 0;
};

// Fonts, design pictures and brushes shared by every page of the runtime: each distinct font, picture
// and colour is made once, however many controls and pages use it.
class GdiCache {
 public:
  GdiCache() = default;
  GdiCache(const GdiCache&) = delete;
  GdiCache& operator=(const GdiCache&) = delete;
  ~GdiCache();

  HFONT font(const LOGFONTW& description);
  // A picture of a design by its bytes; `decode` runs only for bytes not seen before. Null is cached too.
  HBITMAP picture(std::string_view bytes, SIZE& size, HBITMAP (*decode)(std::string_view, SIZE&));
  HBRUSH brush(COLORREF color);

 private:
  struct Picture {
    HBITMAP bitmap = nullptr;
    SIZE size{};
  };
  std::map<std::wstring, HFONT> fonts_;
  std::map<std::string, Picture, std::less<>> pictures_;
  std::map<COLORREF, HBRUSH> brushes_;
};

// TPoolTemplate.
struct Page {
  Page() = default;
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;
  ~Page();

  std::string key;
  std::string designFileName;  // e.g. welcome.dfm: the page's key in the dialog text table
  std::string formName;
  std::string rulesText;       // the rules file's items as comma text
  HWND window = nullptr;
  int clientWidth = 462, clientHeight = 181;
  COLORREF color = CLR_INVALID;
  HFONT font = nullptr;
  std::string designCaption;
  std::vector<std::unique_ptr<PageControl>> controls;
  std::vector<PendingWindow> pendingWindows;
  HBRUSH background = nullptr;

  int result = -1;  // 2 cancel, 6 next, 7 back, 8 custom
  std::string customResult;
  bool notModal = false;
  bool hideAllowed = false;
  bool shown = false;
  bool attached = false;  // events reach the binding only between ApplyDialogValues and DetachDialog
  std::string selectionPath;
  DialogRuntime* runtime = nullptr;

  PageControl* find(std::string_view name);
  int indexOf(const PageControl* control) const;
  // A control's effective visibility: its own and every container's.
  bool effectivelyVisible(const PageControl& control) const;
};

}  // namespace orv
