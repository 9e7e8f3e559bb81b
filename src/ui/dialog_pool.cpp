#include "ui/dialog_pool.h"

#include <commctrl.h>

#include <stdexcept>

#include "bootstrap/engine.h"
#include "core/commatext.h"
#include "core/design/design.h"
#include "core/text.h"
#include "platform/files.h"
#include "platform/libraries.h"
#include "platform/strings.h"
#include "script/command.h"
#include "script/interpreter.h"
#include "ui/binding.h"
#include "ui/control_factory.h"
#include "ui/main_window.h"
#include "ui/page_window.h"

namespace orv {
namespace {

constexpr size_t kMaxDesignBytes = 64u << 20;
constexpr UINT_PTR kIdleBuildTimer = 0x5800;  // clear of the watchdogs' ids
constexpr UINT kIdleBuildMs = 20;

bool silentRun(const Engine& e) { return e.startup.silent || isTrueText(e.vars.getValue("SILENT")); }

void loadCommonControls() {
  using Init = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  // By name, so that the manifest's version 6 is the one resolved.
  HMODULE library = LoadLibraryExW(L"comctl32.dll", nullptr, 0);
  auto init = library ? reinterpret_cast<Init>(reinterpret_cast<void*>(GetProcAddress(library, "InitCommonControlsEx"))) : nullptr;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_TAB_CLASSES |
                                                      ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS |
                                                      ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
  if (init) init(&controls);
}

// A design file in the binary form the authoring tool writes, or in the text form.
design::Document readDesign(const std::string& path, unsigned codePage) {
  std::string bytes;
  if (fileSize(path) > static_cast<int64_t>(kMaxDesignBytes) || !readWholeFile(path, bytes))
    throw std::runtime_error("The page design " + path + " cannot be read.");
  try {
    const std::string_view start = std::string_view(bytes).substr(0, 16);
    if (startsWithNoCase(trimLeft(start), "object ") || startsWithNoCase(trimLeft(start), "inherited ")) {
      design::Document doc;
      doc.root = design::readText(bytes, codePage);
      return doc;
    }
    return design::readBinary(bytes, codePage);
  } catch (const design::DesignError& error) {
    throw std::runtime_error("The page design " + path + " is damaged: " + error.what());
  }
}

RECT windowRect(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r;
}

void placePage(DialogRuntime& rt, Page& page) {
  const RECT now = windowRect(page.window);
  const int width = now.right - now.left, height = now.bottom - now.top;
  const RECT& last = rt.lastPosition;
  int left = last.left, top = last.top;
  if (rt.centreNext || width != last.right - last.left || height != last.bottom - last.top) {
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    left = work.left + (work.right - work.left - width) / 2;
    top = work.top + (work.bottom - work.top - height) / 2;
  }
  rt.centreNext = false;
  SetWindowPos(page.window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  rt.lastPosition = RECT{left, top, left + width, top + height};
}

void hidePage(DialogRuntime& rt, Page& page) {
  page.hideAllowed = true;
  if (IsWindowVisible(page.window)) rt.lastPosition = windowRect(page.window);
  ShowWindow(page.window, SW_HIDE);
  page.shown = false;
}

HWND firstFocus(Page& page) {
  for (const auto& c : page.controls)
    if (c->isDefault && c->window && IsWindowVisible(c->window) && IsWindowEnabled(c->window)) return c->window;
  return GetNextDlgTabItem(page.window, nullptr, FALSE);
}

// The new page is up before the old one goes, so no empty screen shows between pages.
void makeVisible(DialogRuntime& rt, Page& page) {
  page.hideAllowed = false;
  ShowWindow(page.window, SW_SHOW);
  if (GetForegroundWindow() != page.window) SetForegroundWindow(page.window);
  if (HWND focus = firstFocus(page)) SetFocus(focus);
  EnableMenuItem(GetSystemMenu(page.window, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
  UpdateWindow(page.window);
  page.shown = true;
  if (rt.current && rt.current != &page) hidePage(rt, *rt.current);
  if (rt.previousWindow && rt.previousWindow != page.window) ShowWindow(rt.previousWindow, SW_HIDE);
  rt.current = &page;
}

// Handles messages until the page has a result; keyboard navigation goes through the dialog manager.
void runModal(Engine& engine, Page& page) {
  MSG msg;
  while (page.result == -1) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {  // a quit request ends the page as a cancel and stays queued for the real loop
      PostQuitMessage(static_cast<int>(msg.wParam));
      page.result = 2;
      break;
    }
    if (got == -1 || !IsWindow(page.window)) {
      page.result = 2;
      break;
    }
    if (handlePageKeyboard(engine, msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

DialogAnswer answerOf(const Page& page) {
  switch (page.result) {
    case 2: return {DialogResult::Cancel, {}};
    case 7: return {DialogResult::Back, {}};
    case 8: return {DialogResult::Custom, page.customResult};
    default: return {DialogResult::Next, {}};
  }
}

void freezeDrawing(const Engine& e, bool frozen) {
  const HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(toInt64Or(e.vars.getValue("WINDOWHANDLE"), 0)));
  if (!window || !IsWindow(window)) return;
  SendMessageW(window, WM_SETREDRAW, frozen ? FALSE : TRUE, 0);
  if (!frozen) RedrawWindow(window, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

// The presenter of "Display Dialog" (steps 2 to 5; the command keeps the rest).
DialogAnswer presentPage(const CommandContext& line, bool modal) {
  Engine& e = line.engine();
  DialogRuntime* rt = dialogRuntime(e);
  if (!rt) return {modal ? DialogResult::Next : DialogResult::NotModal, {}};
  const std::string key = dialogKey(line.line() - 1);
  rt->lastLineKey = key;
  if (!rt->freedAtEnd) {
    rt->freedAtEnd = true;
    atEndOfRun(e, [](Engine& engine) { freeDialogs(engine); });
  }
  if (silentRun(e)) return {modal ? DialogResult::Next : DialogResult::NotModal, {}};
  if (!rt->page(key)) loadDialog(e, key, rt->supportFolder + std::string(line.param(1)) + ".dfm");
  if (!rt->stillShownKey.empty()) {
    detachDialog(e, rt->stillShownKey);
    rt->stillShownKey.clear();
  }
  Page& page = *rt->page(key);
  freezeDrawing(e, true);
  try {
    applyDialogValues(page);
  } catch (...) {
    freezeDrawing(e, false);
    throw;
  }
  freezeDrawing(e, false);
  DialogAnswer answer = showDialog(e, key, modal);
  if (modal) rt->stillShownKey = key;
  return answer;
}

}  // namespace

Page* DialogRuntime::page(std::string_view key) {
  const auto it = pool.find(upper(key));
  return it == pool.end() ? nullptr : it->second.get();
}

const std::string& DialogRuntime::registerText(const std::string& designFile, const std::string& component,
                                               const std::string& text) {
  return texts.try_emplace(designFile + "." + component, text).first->second;
}

std::string DialogRuntime::registeredText(const std::string& designFile, const std::string& component) const {
  const auto it = texts.find(designFile + "." + component);
  return it == texts.end() ? std::string() : it->second;
}

DialogRuntime* dialogRuntime(Engine& engine) { return engine.dialogs.get(); }

std::string dialogKey(size_t lineIndex) { return std::to_string(lineIndex); }

void initDialogs(Engine& engine, const std::string& supportFolder) {
  loadCommonControls();
  (void)mainWindow(engine);
  engine.dialogs = std::make_shared<DialogRuntime>(engine);
  engine.dialogs->supportFolder = supportFolder;
  engine.vars.defineVariable("ZORN_IsCancelled", "FALSE", "Initialization");
  engine.showDialog = presentPage;
}

HWND loadDialog(Engine& engine, const std::string& key, const std::string& designPath) {
  DialogRuntime* rt = dialogRuntime(engine);
  if (!rt) throw std::logic_error("The dialog pool is not set up.");
  const unsigned codePage = engine.image.codePage > 0 && engine.image.codePage < 65536 ? static_cast<unsigned>(engine.image.codePage)
                                                                                       : GetACP();
  const design::Document design = readDesign(designPath, codePage);
  if (Page* old = rt->page(key)) {
    if (rt->current == old) rt->current = nullptr;
    hidePage(*rt, *old);
    rt->pool.erase(upper(key));
  }
  std::unique_ptr<Page> page = buildPage(*rt, design.root, key, fileNameOf(designPath));
  std::string rules;
  if (fileExists(designPath + ".orvf") && readWholeFile(designPath + ".orvf", rules))
    page->rulesText = joinCommaText(ruleItemsOfFile(rules));
  SetTimer(page->window, kProgressTimerId, 1000, nullptr);
  const HWND window = page->window;
  rt->pool[upper(key)] = std::move(page);
  return window;
}

namespace {

// The windows left out at start-up are made one page at a time while the machine waits for the user:
// a timer's tick comes only when no other message is queued.
void buildPendingWhenIdle(Engine& engine) {
  mainWindow(engine).startTimer(kIdleBuildTimer, kIdleBuildMs, [&engine] {
    DialogRuntime* rt = dialogRuntime(engine);
    Page* next = nullptr;
    if (rt)
      for (const auto& entry : rt->pool)
        if (hasPendingWindows(*entry.second)) {
          next = entry.second.get();
          break;
        }
    if (!next) {
      mainWindow(engine).stopTimer(kIdleBuildTimer);
      return;
    }
    try {
      createPendingWindows(*next);
    } catch (...) {
      next->pendingWindows.clear();  // the page works without them; filling it never retries forever
    }
  });
}

}  // namespace

void preloadDialogs(Engine& engine, const std::function<void()>& loaded) {
  DialogRuntime* rt = dialogRuntime(engine);
  // A silent run shows no page; one that turns visible later builds its pages when it first shows them.
  if (!rt || silentRun(engine) || !engine.index) return;
  for (size_t i = 0; i < engine.image.lineCount(); ++i) {
    if (engine.image.commands[i] != "Display Dialog" || engine.index->isDisabled(i)) continue;
    const std::string name(engine.index->parameterOfLine(i, 1));
    loadDialog(engine, dialogKey(i), rt->supportFolder + name + ".dfm");
    if (loaded) loaded();
  }
  buildPendingWhenIdle(engine);
}

DialogAnswer showDialog(Engine& engine, const std::string& key, bool modal) {
  DialogRuntime& rt = *dialogRuntime(engine);
  VariableStore& v = engine.vars;
  v.defineVariable("ZORN_IsCancelled", "FALSE", "Display Dialog Action");
  Page* page = rt.page(key);
  if (!page) throw std::runtime_error("No page was loaded for the dialog line " + key + ".");
  rt.currentKey = key;
  placePage(rt, *page);
  page->notModal = !modal;
  page->result = -1;
  const std::string target = v.expandPath(v.getValue("TARGETDIR"));
  rt.target = takeTargetSnapshot(target, existingBase(target, [](const std::string& p) { return folderExists(p); }));
  makeVisible(rt, *page);
  DialogAnswer answer{DialogResult::NotModal, {}};
  if (modal) {
    runModal(engine, *page);
    answer = answerOf(*page);
    rt.currentKey.clear();
  } else {
    answer.window = reinterpret_cast<intptr_t>(page->window);
  }
  if (IsWindow(page->window) && IsWindowVisible(page->window)) rt.lastPosition = windowRect(page->window);
  return answer;
}

void detachDialog(Engine& engine, const std::string& key) {
  DialogRuntime* rt = dialogRuntime(engine);
  Page* page = rt ? rt->page(key) : nullptr;
  if (!page) return;
  rt->previousWindow = page->window;
  detachBinding(*page);
}

bool handlePageKeyboard(Engine& engine, MSG& msg) {
  if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
  const DialogRuntime* rt = dialogRuntime(engine);
  if (!rt || !rt->current || !rt->current->window) return false;
  const HWND page = rt->current->window;
  if (msg.hwnd != page && !IsChild(page, msg.hwnd)) return false;
  return IsDialogMessageW(page, &msg) != FALSE;
}

void hideDialogs(Engine& engine) {
  engine.vars.defineVariable("WINDOWHANDLE", "0", "Hide Dialog Action");
  DialogRuntime* rt = dialogRuntime(engine);
  if (!rt) return;
  if (rt->current) hidePage(*rt, *rt->current);
  if (rt->previousWindow) ShowWindow(rt->previousWindow, SW_HIDE);
  rt->current = nullptr;
  if (!rt->lastLineKey.empty()) {
    rt->stillShownKey = rt->lastLineKey;
    rt->lastLineKey.clear();
  }
}

void freeDialogs(Engine& engine) {
  if (!engine.dialogs) return;
  engine.showDialog = nullptr;
  engine.dialogs.reset();
}

}  // namespace orv
