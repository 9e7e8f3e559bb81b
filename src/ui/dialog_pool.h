// The dialog pool: every wizard page of the script is built at start-up from its design file and kept
// hidden until a "Display Dialog" line fills and shows it. All of it runs on the UI thread.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "script/dialog.h"
#include "ui/binding_rules.h"
#include "ui/page.h"
#include "ui/taskbar.h"

namespace orv {

struct Engine;
class CommandContext;

struct DialogRuntime {
  explicit DialogRuntime(Engine& e) : engine(e) {}
  DialogRuntime(const DialogRuntime&) = delete;
  DialogRuntime& operator=(const DialogRuntime&) = delete;

  Engine& engine;
  std::string supportFolder;
  GdiCache gdi;  // before the pool: the pages' controls use it until they are gone
  std::map<std::string, std::unique_ptr<Page>> pool;  // upper-cased key
  Page* current = nullptr;
  HWND previousWindow = nullptr;  // the page detached last
  std::string currentKey;         // of the page shown modally, else empty
  RECT lastPosition{};            // left, top, right, bottom of the last shown page
  bool centreNext = true;
  bool suppressHandlers = false;
  TargetSnapshot target;
  std::string stillShownKey;
  std::string lastLineKey;
  // DialogTextTable: design file name "." component name -> text; the first registration stays.
  std::unordered_map<std::string, std::string> texts;
  Taskbar taskbar;
  int marqueeRefreshes = 0;
  int ruleDepth = 0;
  bool freedAtEnd = false;  // the end of the run frees the pages

  Page* page(std::string_view key);
  const std::string& registerText(const std::string& designFile, const std::string& component, const std::string& text);
  std::string registeredText(const std::string& designFile, const std::string& component) const;
};

// The engine's runtime (null before initDialogs).
DialogRuntime* dialogRuntime(Engine& engine);

// InitDialogs: the pool, the hidden main window and the page presenter of "Display Dialog".
void initDialogs(Engine& engine, const std::string& supportFolder);
// LoadDialog: builds the page of a "Display Dialog" line from its design file (and its rules file);
// throws std::runtime_error with the file's name when the design cannot be read.
HWND loadDialog(Engine& engine, const std::string& key, const std::string& designPath);
// Loads the page of every enabled "Display Dialog" line; `loaded` runs after each.
void preloadDialogs(Engine& engine, const std::function<void()>& loaded);
// ShowDialog: 6/7/2/8 for a modal page, the window handle for a modeless one.
DialogAnswer showDialog(Engine& engine, const std::string& key, bool modal);
void detachDialog(Engine& engine, const std::string& key);
// Keyboard navigation of the page in front, modal or not (Tab, Shift+Tab, Enter for the default button,
// Esc for Cancel, Alt+mnemonics): true when the message was handled so and must not be dispatched. Every
// message loop of the engine passes its messages through here.
bool handlePageKeyboard(Engine& engine, MSG& msg);
// "Hide Dialog".
void hideDialogs(Engine& engine);
// FreeDialogs.
void freeDialogs(Engine& engine);

// The "Display Dialog" line's key: the decimal 0-based index of the line.
std::string dialogKey(size_t lineIndex);

}  // namespace orv
