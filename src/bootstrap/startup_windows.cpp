#include "bootstrap/startup_windows.h"

#include <commctrl.h>
#include <dwmapi.h>
#include <uxtheme.h>


#include "bootstrap/resources.h"
#include "platform/libraries.h"
#include "platform/pictures.h"
#include "platform/strings.h"
#include "platform/system.h"

namespace orv {
namespace {

constexpr wchar_t kInitClass[] = L"TSetupInit";
constexpr wchar_t kSplashClass[] = L"TSetupSplash";

void registerClass(const wchar_t* name, WNDPROC proc) {
  WNDCLASSEXW wc{sizeof(wc)};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.hIcon = LoadIconW(wc.hInstance, MAKEINTRESOURCEW(IDI_SETUP));
  wc.lpszClassName = name;
  RegisterClassExW(&wc);
}

bool compositionEnabled() {
  using Fn = HRESULT(WINAPI*)(BOOL*);
  auto isEnabled = systemFunction<Fn>(L"dwmapi.dll", "DwmIsCompositionEnabled");
  BOOL on = FALSE;
  return isEnabled && SUCCEEDED(isEnabled(&on)) && on;
}

void loadCommonControls() {
  // By name, so the manifest's version 6 is the one resolved; the search is already restricted to the
  // system folder.
  HMODULE cc = LoadLibraryExW(L"comctl32.dll", nullptr, 0);
  using Fn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  auto init = cc ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(cc, "InitCommonControlsEx"))) : nullptr;
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  if (init) init(&icc);
}

int scale(int v, int dpi) { return MulDiv(v, dpi, 96); }

}  // namespace

HBITMAP loadPicture(const std::wstring& path, int* width, int* height) {
  SIZE size{};
  HBITMAP picture = decodePictureFile(path, 4096, size);
  if (picture && width) *width = size.cx;
  if (picture && height) *height = size.cy;
  return picture;
}

void StartupWindows::show(const std::string& splashBitmap, const std::string& supportFolder,
                          const std::string& caption, const std::string& message) {
  loadCommonControls();
  registerClass(kSplashClass, splashProc);
  registerClass(kInitClass, initProc);
  HDC screen = GetDC(nullptr);
  dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  message_ = widen(message);

  LOGFONTW lf{};
  lf.lfHeight = -MulDiv(8, dpi_, 72);
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = CLEARTYPE_QUALITY;
  wcscpy(lf.lfFaceName, L"Tahoma");
  font_ = CreateFontIndirectW(&lf);

  const HINSTANCE inst = GetModuleHandleW(nullptr);
  splash_ = CreateWindowExW(WS_EX_TOOLWINDOW, kSplashClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, inst, this);

  // Single border, caption, no border icons; client area 369 x 89.
  const DWORD style = WS_POPUP | WS_CAPTION | WS_BORDER;
  RECT r{0, 0, scale(369, dpi_), scale(89, dpi_)};
  AdjustWindowRectEx(&r, style, FALSE, WS_EX_DLGMODALFRAME);
  init_ = CreateWindowExW(WS_EX_DLGMODALFRAME, kInitClass, widen(caption).c_str(), style, 0, 0, r.right - r.left,
                          r.bottom - r.top, nullptr, nullptr, inst, this);
  progress_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, scale(16, dpi_), scale(56, dpi_),
                              scale(337, dpi_), scale(17, dpi_), init_, nullptr, inst, nullptr);

  const OsVersion os = osVersion();
  if (os.atLeast(6, 0) && compositionEnabled()) {
    MARGINS glass{-1, -1, -1, -1};  // the whole window as one sheet of glass
    using Fn = HRESULT(WINAPI*)(HWND, const MARGINS*);
    if (auto extend = systemFunction<Fn>(L"dwmapi.dll", "DwmExtendFrameIntoClientArea")) extend(init_, &glass);
  }
  if (os.atLeast(6, 2)) {  // translucent on Windows 8 and later
    SetWindowLongPtrW(init_, GWL_EXSTYLE, GetWindowLongPtrW(init_, GWL_EXSTYLE) | WS_EX_LAYERED);
    SetLayeredWindowAttributes(init_, 0, 224, LWA_ALPHA);
  }

  // The icon picture ships as a resource and is written to the support folder first, so a resource
  // archive can replace it.
  const std::wstring png = widen(supportFolder + "orvane.png");
  if (HRSRC res = FindResourceW(inst, L"ANTIVB", MAKEINTRESOURCEW(10))) {
    HGLOBAL data = LoadResource(inst, res);
    const DWORD size = SizeofResource(inst, res);
    HANDLE f = CreateFileW(png.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(f, LockResource(data), size, &written, nullptr);
      CloseHandle(f);
    }
  }
  picture_ = loadPicture(png);

  const std::wstring bmp = widen(splashBitmap);
  int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  if (GetFileAttributesW(bmp.c_str()) != INVALID_FILE_ATTRIBUTES)
    splashBitmap_ = static_cast<HBITMAP>(LoadImageW(nullptr, bmp.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
  RECT ir;
  GetWindowRect(init_, &ir);
  const int iw = ir.right - ir.left, ih = ir.bottom - ir.top;
  if (splashBitmap_) {
    BITMAP bm{};
    GetObjectW(splashBitmap_, sizeof(bm), &bm);
    const int left = (sw - bm.bmWidth) / 2, top = (sh - bm.bmHeight) / 2;
    SetWindowPos(splash_, HWND_TOP, left, top, bm.bmWidth, bm.bmHeight, SWP_SHOWWINDOW);
    UpdateWindow(splash_);
    int x = left + bm.bmWidth / 2 + 50, y = top + bm.bmHeight + 25;
    if (y > sh - ih - 45) y = sh - ih - 45;
    if (x > sw - iw - 25) x = sw - iw - 25;
    SetWindowPos(init_, HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
  } else {
    SetWindowPos(init_, HWND_TOP, (sw - iw) / 2, (sh - ih) / 2, 0, 0, SWP_NOSIZE);
  }
  ShowWindow(init_, SW_SHOWNORMAL);
  repaint();
}

void StartupWindows::repaint() {
  if (init_) {
    InvalidateRect(init_, nullptr, TRUE);
    UpdateWindow(init_);
  }
  if (splash_ && IsWindowVisible(splash_)) UpdateWindow(splash_);
  MSG msg;  // let the window system deliver what the repaint produced
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void StartupWindows::reloadPicture(const std::string& pngPath) {
  if (!init_) return;
  if (HBITMAP fresh = loadPicture(widen(pngPath))) {
    if (picture_) DeleteObject(picture_);
    picture_ = fresh;
    repaint();
  }
}

void StartupWindows::setProgressRange(int max, int position) {
  if (!progress_) return;
  SendMessageW(progress_, PBM_SETRANGE32, 0, max);
  SendMessageW(progress_, PBM_SETPOS, position, 0);
  repaint();
}

void StartupWindows::stepProgress() {
  if (!progress_) return;
  SendMessageW(progress_, PBM_DELTAPOS, 1, 0);
  repaint();
}

void StartupWindows::destroy() {
  if (init_) DestroyWindow(init_);
  if (splash_) DestroyWindow(splash_);
  init_ = splash_ = progress_ = nullptr;
  if (splashBitmap_) DeleteObject(splashBitmap_);
  if (picture_) DeleteObject(picture_);
  if (font_) DeleteObject(font_);
  splashBitmap_ = picture_ = nullptr;
  font_ = nullptr;
}

void StartupWindows::paintInit(HDC dc) {
  if (picture_) {
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, picture_);
    BITMAP bm{};
    GetObjectW(picture_, sizeof(bm), &bm);
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    using AlphaBlendFn = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);
    static auto alphaBlend = systemFunction<AlphaBlendFn>(L"msimg32.dll", "AlphaBlend");
    if (alphaBlend)
      alphaBlend(dc, scale(16, dpi_), scale(16, dpi_), scale(32, dpi_), scale(32, dpi_), mem, 0, 0, bm.bmWidth,
                 bm.bmHeight, blend);
    SelectObject(mem, old);
    DeleteDC(mem);
  }
  HGDIOBJ oldFont = SelectObject(dc, font_);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  RECT text{scale(50, dpi_), scale(10, dpi_), scale(50 + 309, dpi_), scale(10 + 45, dpi_)};
  DrawTextW(dc, message_.c_str(), static_cast<int>(message_.size()), &text, DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, oldFont);
}

LRESULT CALLBACK StartupWindows::initProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
  }
  auto* self = reinterpret_cast<StartupWindows*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      if (self) self->paintInit(dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_CLOSE:
      return 0;  // the window goes away by itself when the setup is ready
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

LRESULT CALLBACK StartupWindows::splashProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
  }
  auto* self = reinterpret_cast<StartupWindows*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    if (self && self->splashBitmap_) {
      HDC mem = CreateCompatibleDC(dc);
      HGDIOBJ old = SelectObject(mem, self->splashBitmap_);
      BITMAP bm{};
      GetObjectW(self->splashBitmap_, sizeof(bm), &bm);
      BitBlt(dc, 0, 0, bm.bmWidth, bm.bmHeight, mem, 0, 0, SRCCOPY);
      SelectObject(mem, old);
      DeleteDC(mem);
    }
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace orv
