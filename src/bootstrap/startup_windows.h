// The two windows shown while the setup prepares itself: the optional splash picture (setup.bmp beside
// the program) and the initialization window with its icon, message and progress bar.
#pragma once
#include <windows.h>

#include <string>

namespace orv {

class StartupWindows {
 public:
  StartupWindows() = default;
  StartupWindows(const StartupWindows&) = delete;
  StartupWindows& operator=(const StartupWindows&) = delete;
  ~StartupWindows() { destroy(); }

  // Creates the splash (when the bitmap exists) and the initialization window and shows them.
  void show(const std::string& splashBitmap, const std::string& supportFolder, const std::string& caption,
            const std::string& message);
  bool exist() const { return init_ != nullptr; }
  HWND initWindow() const { return init_; }
  // Reloads the icon picture (the resource archive may carry a replacement orvane.png).
  void reloadPicture(const std::string& pngPath);
  void setProgressRange(int max, int position);
  void stepProgress();
  void destroy();

 private:
  static LRESULT CALLBACK initProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK splashProc(HWND, UINT, WPARAM, LPARAM);
  void paintInit(HDC dc);
  void placeInit();
  void repaint();

  HWND splash_ = nullptr;
  HWND init_ = nullptr;
  HWND progress_ = nullptr;
  HBITMAP splashBitmap_ = nullptr;
  HBITMAP picture_ = nullptr;  // premultiplied 32-bit icon picture
  HFONT font_ = nullptr;
  std::wstring message_;
  int dpi_ = 96;
};

// Loads a PNG (or any WIC-readable picture) into a 32-bit premultiplied DIB section; null on failure.
HBITMAP loadPicture(const std::wstring& path, int* width = nullptr, int* height = nullptr);

}  // namespace orv
