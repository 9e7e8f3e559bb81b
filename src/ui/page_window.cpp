#include "ui/page_window.h"

#include <commctrl.h>

#include <algorithm>
#include <cstddef>
#include <cwchar>

#include "core/text.h"
#include "platform/strings.h"
#include "ui/binding.h"
#include "ui/control_factory.h"
#include "ui/dialog_pool.h"
#include "ui/picture.h"
#include "ui/progress_page.h"

namespace orv {

Page::~Page() {
  if (window) {
    KillTimer(window, kProgressTimerId);
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
  }
  for (const auto& c : controls)
    if (c->ownedPicture) DeleteObject(c->ownedPicture);
  if (background) DeleteObject(background);
}

GdiCache::~GdiCache() {
  for (const auto& f : fonts_)
    if (f.second) DeleteObject(f.second);
  for (const auto& p : pictures_)
    if (p.second.bitmap) DeleteObject(p.second.bitmap);
  for (const auto& b : brushes_)
    if (b.second) DeleteObject(b.second);
}

HFONT GdiCache::font(const LOGFONTW& description) {
  // The whole description is the key: the face name is cut at its terminating zero.
  std::wstring key(reinterpret_cast<const wchar_t*>(&description), offsetof(LOGFONTW, lfFaceName) / sizeof(wchar_t));
  key += std::wstring(description.lfFaceName, wcsnlen(description.lfFaceName, LF_FACESIZE));
  if (auto it = fonts_.find(key); it != fonts_.end()) return it->second;
  HFONT font = CreateFontIndirectW(&description);
  fonts_.emplace(std::move(key), font);
  return font;
}

HBITMAP GdiCache::picture(std::string_view bytes, SIZE& size, HBITMAP (*decode)(std::string_view, SIZE&)) {
  auto it = pictures_.find(bytes);
  if (it == pictures_.end()) {
    Picture decoded;
    decoded.bitmap = decode(bytes, decoded.size);
    it = pictures_.emplace(std::string(bytes), decoded).first;
  }
  size = it->second.size;
  return it->second.bitmap;
}

HBRUSH GdiCache::brush(COLORREF color) {
  if (auto it = brushes_.find(color); it != brushes_.end()) return it->second;
  HBRUSH brush = CreateSolidBrush(color);
  brushes_.emplace(color, brush);
  return brush;
}

PageControl* Page::find(std::string_view name) {
  for (const auto& c : controls)
    if (equalsNoCase(c->name, name)) return c.get();
  return nullptr;
}

int Page::indexOf(const PageControl* control) const {
  for (size_t i = 0; i < controls.size(); ++i)
    if (controls[i].get() == control) return static_cast<int>(i);
  return -1;
}

bool Page::effectivelyVisible(const PageControl& control) const {
  const PageControl* c = &control;
  for (size_t depth = 0; c && depth <= controls.size(); ++depth) {
    if (!c->visible) return false;
    if (c->kind == ControlKind::TabSheet && !c->checked) return false;
    c = c->parent >= 0 ? controls[static_cast<size_t>(c->parent)].get() : nullptr;
  }
  return true;
}

namespace {

Page* pageOf(HWND window) { return reinterpret_cast<Page*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

PageControl* controlOfId(Page& page, int id) {
  const int index = id - kFirstControlId;
  if (index < 0 || static_cast<size_t>(index) >= page.controls.size()) return nullptr;
  return page.controls[static_cast<size_t>(index)].get();
}

PageControl* controlOfWindow(Page& page, HWND window) {
  for (const auto& c : page.controls)
    if (c->window && c->window == window) return c.get();
  return nullptr;
}

COLORREF pageColor(const Page& page) { return page.color != CLR_INVALID ? page.color : GetSysColor(COLOR_BTNFACE); }

// The colour behind a control: its nearest coloured panel's, else the page's.
COLORREF colorBehind(const Page& page, const PageControl& control) {
  for (int p = control.parent; p >= 0; p = page.controls[static_cast<size_t>(p)]->parent) {
    const PageControl& parent = *page.controls[static_cast<size_t>(p)];
    if (parent.kind == ControlKind::Panel && parent.color != CLR_INVALID) return parent.color;
  }
  return pageColor(page);
}

HBRUSH solidBrush(Page& page, COLORREF color) {
  return page.runtime->gdi.brush(color);  // every page is built inside a runtime
}

void paintPanel(HDC dc, Page& page, const PageControl& c) {
  RECT r = c.bounds;
  const COLORREF fill = c.color != CLR_INVALID ? c.color : colorBehind(page, c);
  FillRect(dc, &r, solidBrush(page, fill));
  auto edge = [&](const std::string& bevel, bool outer) {
    if (equalsNoCase(bevel, "bvRaised")) DrawEdge(dc, &r, outer ? BDR_RAISEDOUTER : BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
    else if (equalsNoCase(bevel, "bvLowered")) DrawEdge(dc, &r, outer ? BDR_SUNKENOUTER : BDR_SUNKENINNER, BF_RECT | BF_ADJUST);
  };
  edge(c.bevelOuter, true);
  edge(c.bevelInner, false);
  if (c.caption.empty()) return;
  HGDIOBJ oldFont = SelectObject(dc, c.font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, c.fontColor != CLR_INVALID ? c.fontColor : GetSysColor(COLOR_BTNTEXT));
  UINT align = DT_CENTER;
  if (equalsNoCase(c.alignment, "taLeftJustify")) align = DT_LEFT;
  if (equalsNoCase(c.alignment, "taRightJustify")) align = DT_RIGHT;
  std::wstring text = widen(c.caption);
  DrawTextW(dc, text.c_str(), -1, &r, align | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  SelectObject(dc, oldFont);
}

// An etched frame with the caption in a gap of its top edge; inside, whatever lies behind shows through.
void paintGroupBox(HDC dc, Page& page, const PageControl& c) {
  HGDIOBJ oldFont = SelectObject(dc, c.font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  RECT frame = c.bounds;
  frame.top += metrics.tmHeight / 2;
  DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
  if (!c.caption.empty()) {
    const std::wstring text = widen(c.caption);
    RECT caption{c.bounds.left + 8, c.bounds.top, c.bounds.right - 8, c.bounds.top + metrics.tmHeight};
    DrawTextW(dc, text.c_str(), -1, &caption, DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS | DT_CALCRECT);
    caption.right = std::min(caption.right + 2, c.bounds.right - 6);
    caption.left -= 2;
    FillRect(dc, &caption, solidBrush(page, colorBehind(page, c)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, !c.enabled ? GetSysColor(COLOR_GRAYTEXT)
                                : c.fontColor != CLR_INVALID ? c.fontColor : GetSysColor(COLOR_BTNTEXT));
    caption.left += 2;
    DrawTextW(dc, text.c_str(), -1, &caption, DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS);
  }
  SelectObject(dc, oldFont);
}

void paintBevel(HDC dc, const PageControl& c) {
  RECT r = c.bounds;
  const bool raised = equalsNoCase(c.bevelStyle, "bsRaised");
  const UINT edge = raised ? EDGE_RAISED : EDGE_SUNKEN;
  const UINT line = raised ? EDGE_BUMP : EDGE_ETCHED;
  const std::string& shape = c.shapeKind;
  if (shape.empty() || equalsNoCase(shape, "bsBox")) DrawEdge(dc, &r, raised ? BDR_RAISEDOUTER : BDR_SUNKENOUTER, BF_RECT);
  else if (equalsNoCase(shape, "bsFrame")) DrawEdge(dc, &r, line, BF_RECT);
  else if (equalsNoCase(shape, "bsTopLine")) DrawEdge(dc, &r, line, BF_TOP);
  else if (equalsNoCase(shape, "bsBottomLine")) DrawEdge(dc, &r, line, BF_BOTTOM);
  else if (equalsNoCase(shape, "bsLeftLine")) DrawEdge(dc, &r, line, BF_LEFT);
  else if (equalsNoCase(shape, "bsRightLine")) DrawEdge(dc, &r, line, BF_RIGHT);
  (void)edge;
}

void paintShape(HDC dc, const PageControl& c) {
  HBRUSH brush = CreateSolidBrush(c.color);
  HPEN pen = CreatePen(PS_SOLID, 1, c.penColor);
  HGDIOBJ oldBrush = SelectObject(dc, brush);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  const RECT& r = c.bounds;
  const std::string& kind = c.shapeKind;
  if (equalsNoCase(kind, "stCircle") || equalsNoCase(kind, "stEllipse")) Ellipse(dc, r.left, r.top, r.right, r.bottom);
  else if (equalsNoCase(kind, "stRoundRect") || equalsNoCase(kind, "stRoundSquare"))
    RoundRect(dc, r.left, r.top, r.right, r.bottom, (r.right - r.left) / 4, (r.bottom - r.top) / 4);
  else Rectangle(dc, r.left, r.top, r.right, r.bottom);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(brush);
  DeleteObject(pen);
}

void paintImage(HDC dc, const PageControl& c) {
  if (!c.picture) return;
  RECT into = c.bounds;
  const int boxW = into.right - into.left, boxH = into.bottom - into.top;
  int w = c.pictureSize.cx, h = c.pictureSize.cy;
  if (c.stretch) {
    w = boxW;
    h = boxH;
    if (c.proportional && c.pictureSize.cx > 0 && c.pictureSize.cy > 0) {
      const double scale = std::min(double(boxW) / c.pictureSize.cx, double(boxH) / c.pictureSize.cy);
      w = static_cast<int>(c.pictureSize.cx * scale);
      h = static_cast<int>(c.pictureSize.cy * scale);
    }
  }
  int left = into.left, top = into.top;
  if (c.center) {
    left += (boxW - w) / 2;
    top += (boxH - h) / 2;
  }
  const RECT target{left, top, left + w, top + h};
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, into.left, into.top, into.right, into.bottom);
  drawPicture(dc, c.picture, c.pictureSize, target);
  RestoreDC(dc, saved);
}

void paintPage(Page& page, HDC dc) {
  RECT client;
  GetClientRect(page.window, &client);
  FillRect(dc, &client, solidBrush(page, pageColor(page)));
  for (const auto& c : page.controls) {
    if (c->window || !page.effectivelyVisible(*c)) continue;
    switch (c->kind) {
      case ControlKind::Panel: paintPanel(dc, page, *c); break;
      case ControlKind::GroupBox: paintGroupBox(dc, page, *c); break;
      case ControlKind::Bevel: paintBevel(dc, *c); break;
      case ControlKind::Shape: paintShape(dc, *c); break;
      case ControlKind::Image: paintImage(dc, *c); break;
      default: break;
    }
  }
}

// The topmost drawn control under the point that reacts to clicks.
PageControl* drawnControlAt(Page& page, POINT at) {
  for (auto it = page.controls.rbegin(); it != page.controls.rend(); ++it) {
    PageControl& c = **it;
    if (c.window || (c.kind != ControlKind::Image && c.kind != ControlKind::Shape)) continue;
    if (PtInRect(&c.bounds, at) && page.effectivelyVisible(c)) return &c;
  }
  return nullptr;
}

LRESULT colorStatic(Page& page, HDC dc, HWND child) {
  PageControl* c = controlOfWindow(page, child);
  if (!c) return reinterpret_cast<LRESULT>(solidBrush(page, pageColor(page)));
  if (c->kind == ControlKind::Edit || c->kind == ControlKind::Memo) {
    return DefWindowProcW(page.window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(child));
  }
  if (c->kind == ControlKind::Placeholder) {
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
  }
  const COLORREF behind = colorBehind(page, *c);
  SetBkColor(dc, behind);
  SetBkMode(dc, TRANSPARENT);
  if (c->fontColor != CLR_INVALID) SetTextColor(dc, c->fontColor);
  return reinterpret_cast<LRESULT>(solidBrush(page, behind));
}

// The dialog manager's focus moves (Tab, Shift+Tab, a label's mnemonic), which a plain window does not
// answer by itself: to the given control, or to the next or previous tab stop.
void moveFocus(Page& page, WPARAM which, bool isWindow) {
  HWND target = isWindow ? reinterpret_cast<HWND>(which) : GetNextDlgTabItem(page.window, GetFocus(), which != 0);
  if (!target || (target != page.window && !IsChild(page.window, target))) return;
  SetFocus(target);
  // An edit reached by the keyboard shows its whole text selected, so that typing replaces it.
  if (!isWindow && (SendMessageW(target, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)) SendMessageW(target, EM_SETSEL, 0, -1);
}

// A close request by the user: refused; the current page comes to the front instead.
void refuseClose(Page& page) {
  DialogRuntime* runtime = page.runtime;
  HWND front = runtime && runtime->current ? runtime->current->window : page.window;
  if (!IsWindowVisible(front)) return;
  if (IsIconic(front)) ShowWindow(front, SW_RESTORE);
  SetWindowPos(front, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(front);
}

LRESULT handle(Page& page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (lParam == 0 && (id == IDOK || id == IDCANCEL)) {
        onDialogKey(page, id == IDCANCEL);
        return 0;
      }
      if (PageControl* c = controlOfId(page, id)) onControlCommand(page, *c, HIWORD(wParam));
      return 0;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (PageControl* c = controlOfId(page, static_cast<int>(header->idFrom))) onControlNotify(page, *c, *header);
      return 0;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
      if (PageControl* c = controlOfWindow(page, reinterpret_cast<HWND>(lParam))) onControlScroll(page, *c);
      return 0;
    case WM_LBUTTONUP: {
      const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      if (PageControl* c = drawnControlAt(page, at)) onDrawnClick(page, *c);
      return 0;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return colorStatic(page, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(page.window, &ps);
      paintPage(page, dc);
      EndPaint(page.window, &ps);
      return 0;
    }
    case WM_TIMER:
      if (wParam == kProgressTimerId) progressTimerTick(page);
      return 0;
    case WM_NEXTDLGCTL:
      moveFocus(page, wParam, LOWORD(lParam) != 0);
      return 0;
    case DM_GETDEFID:
      for (const auto& c : page.controls)
        if (c->isDefault && c->window && IsWindowEnabled(c->window))
          return MAKELRESULT(kFirstControlId + page.indexOf(c.get()), DC_HASDEFID);
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE && !page.hideAllowed) {
        refuseClose(page);
        return 0;
      }
      break;
    case WM_CLOSE:
      if (!page.hideAllowed) refuseClose(page);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(page.window, message, wParam, lParam);
}

LRESULT CALLBACK pageProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* page = static_cast<Page*>(create->lpCreateParams);
    page->window = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(page));
  }
  Page* page = pageOf(window);
  if (!page) return DefWindowProcW(window, message, wParam, lParam);
  try {
    return handle(*page, message, wParam, lParam);
  } catch (...) {
    // Exceptions never leave the window procedure; a failed event leaves the page as it was.
    return 0;
  }
}

}  // namespace

const wchar_t* pageWindowClass() {
  static const wchar_t* name = [] {
    WNDCLASSEXW wc{sizeof(wc)};
    wc.lpfnWndProc = pageProcedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconW(wc.hInstance, MAKEINTRESOURCEW(1));
    wc.lpszClassName = L"TPoolTemplate";
    RegisterClassExW(&wc);
    return L"TPoolTemplate";
  }();
  return name;
}

}  // namespace orv
