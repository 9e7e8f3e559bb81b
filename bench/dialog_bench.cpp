// Wizard page runtime speed under Wine (needs a display; run it like the UI tests):
//
//   DISPLAY=:N scripts/wine-run explorer /desktop=bench,1024x768 Z:/abs/BUILD/tests/ui/orv_dialog_bench.exe [cycles (3)]
//
// Run it inside a Wine virtual desktop: on a bare X display without a window manager Wine waits two
// seconds for every hidden top-level window to be withdrawn, which would swamp the page switch.
//
// Start-up: the time InitDialogs and the preloading of eight designed pages (about twenty controls
// each, read from binary design files) take, as at a real start (one per program run). A real start
// has shown its start-up window by then, which loaded the common controls and the display driver; that
// one-time cost of the process is timed on its own line.
// Page switch: "Display Dialog" of the next page while another is up (values applied, page placed and
// shown, the old page hidden), up to the moment every message the switch queued has been handled and the
// new page has painted. Median and worst are printed; targets: 150 ms and 30 ms.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bootstrap/engine.h"
#include "core/design/design.h"
#include "platform/files.h"
#include "platform/system.h"
#include "ui/binding.h"
#include "ui/dialog_pool.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPages = 8;

std::string control(const std::string& object, const std::string& cls, int left, int top, int width, int height,
                    const std::string& extra) {
  return "  object " + object + ": " + cls + "\n    Left = " + std::to_string(left) + "\n    Top = " + std::to_string(top) +
         "\n    Width = " + std::to_string(width) + "\n    Height = " + std::to_string(height) + "\n" + extra + "  end\n";
}

std::string pageText(int n) {
  std::string body;
  body += control("Banner", "TPanel", 0, 0, 496, 58, "    BevelOuter = bvNone\n    Color = clWhite\n    Caption = ''\n");
  body += control("Title", "TLabel", 16, 12, 400, 16, "    Caption = 'Page " + std::to_string(n) + " of $TITLE$'\n");
  body += control("Line", "TBevel", 0, 58, 496, 2, "    Shape = bsTopLine\n");
  for (int i = 0; i < 4; ++i) {
    const std::string k = std::to_string(i);
    body += control("Label" + k, "TLabel", 24, 76 + i * 30, 100, 13, "    Caption = 'Field " + k + ":'\n");
    body += control("Edit" + k, "TEdit", 130, 72 + i * 30, 250, 21, "    Hint = 'FIELD" + k + "'\n");
  }
  body += control("Check", "TRzCheckBox", 24, 200, 200, 17, "    Caption = 'Option'\n    Hint = 'OPTION'\n");
  body += control("Radio1", "TRzRadioButton", 24, 222, 120, 17, "    Caption = 'First'\n    Hint = 'FIRST'\n");
  body += control("Radio2", "TRzRadioButton", 150, 222, 120, 17, "    Caption = 'Second'\n    Hint = 'SECOND'\n");
  body += control("List", "TListBox", 300, 200, 180, 60,
                  "    Hint = 'CHOICE'\n    Items.Strings = (\n      'Alpha'\n      'Beta'\n      'Gamma')\n");
  body += control("Combo", "TComboBox", 24, 246, 200, 21,
                  "    Style = csDropDownList\n    Hint = 'MODE'\n    Items.Strings = (\n      'Typical'\n      'Custom')\n");
  body += control("Bar", "TProgressBar", 24, 276, 456, 16, "    Tag = 1\n");
  body += control("Back", "TButton", 224, 310, 80, 25, "    Caption = '< &Back'\n    Tag = 2\n");
  body += control("Next", "TButton", 308, 310, 80, 25, "    Caption = '&Next >'\n    Tag = 1\n    Default = True\n");
  body += control("Cancel", "TButton", 400, 310, 80, 25, "    Caption = 'Cancel'\n    Tag = 3\n");
  return "object Page" + std::to_string(n) +
         ": TForm\n  Caption = 'Bench page'\n  ClientWidth = 496\n  ClientHeight = 346\n  Font.Name = 'Tahoma'\n"
         "  Font.Height = -11\n  PixelsPerInch = 96\n" + body + "end\n";
}

orv::SetupImage benchImage() {
  orv::SetupImage img;
  img.title = "Dialog Bench";
  for (int i = 0; i < kPages; ++i) {
    const std::string id = "{0000" + std::to_string(1000 + i) + "-0000-4000-8000-000000000000}";
    img.commands.push_back("Display Dialog");
    img.lineIds.push_back(id);
    img.disabled.push_back("");
    img.mediaFolders.push_back("");
    img.sourcePositions.push_back("bench.orv*" + std::to_string(i));
    img.parameters.insert(img.parameters.end(), {id, "page" + std::to_string(i), "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  }
  return img;
}

// What the start-up window costs first: the common controls (by name, so that the manifest's version 6
// is the one loaded) and, with the process's first window, the display driver.
void startUpWindowCosts() {
  using Init = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  HMODULE library = LoadLibraryExW(L"comctl32.dll", nullptr, 0);
  auto init = library ? reinterpret_cast<Init>(reinterpret_cast<void*>(GetProcAddress(library, "InitCommonControlsEx"))) : nullptr;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  if (init) init(&controls);
  if (HWND first = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr))
    DestroyWindow(first);
}

void pumpAll() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void settle() {
  const ULONGLONG until = GetTickCount64() + 150;
  while (GetTickCount64() < until) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    pumpAll();
  }
}

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void report(const char* what, std::vector<double> times, double target) {
  std::sort(times.begin(), times.end());
  std::printf("%-28s median %7.2f ms   worst %7.2f ms   (target < %.0f ms, %zu samples)\n", what, times[times.size() / 2],
              times.back(), target, times.size());
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const std::string folder = orv::tempFolder() + "orv-dialog-bench\\";
  orv::createFolders(folder);
  for (int i = 0; i < kPages; ++i)
    orv::writeWholeFile(folder + "page" + std::to_string(i) + ".dfm", orv::design::textToBinary(pageText(i), 1252, true));

  // One engine per process, as in a setup: Wine's display driver does not take windows of a freed
  // engine being replaced by a new set at full speed well, so repeat the program for more start-ups.
  std::vector<double> startups, switches;
  orv::Engine engine;
  engine.loadImage(benchImage());
  engine.vars.defineVariable("TITLE", "Bench", "Initialization");
  const Clock::time_point loading = Clock::now();
  startUpWindowCosts();
  const double controlsLoad = millisecondsSince(loading);
  const Clock::time_point start = Clock::now();
  orv::initDialogs(engine, folder);
  orv::preloadDialogs(engine, {});
  startups.push_back(millisecondsSince(start));
  for (int step = 0; step < cycles * kPages; ++step) {
    const std::string key = orv::dialogKey(static_cast<size_t>(step % kPages));
    const Clock::time_point shown = Clock::now();
    orv::applyDialogValues(*orv::dialogRuntime(engine)->page(key));
    orv::showDialog(engine, key, false);
    pumpAll();
    if (step > 0) switches.push_back(millisecondsSince(shown));  // the first show has no page to replace
    settle();  // the user's pace: the display catches up before the next page
  }
  orv::freeDialogs(engine);
  std::printf("%-28s %7.2f ms   (before the pages, with the start-up window)\n", "start-up window's share", controlsLoad);
  report("start-up, 8 pages preloaded", startups, 150);
  report("page switch", switches, 30);
  orv::deleteTree(folder);
  return 0;
}
