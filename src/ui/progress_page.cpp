#include "ui/progress_page.h"

#include <commctrl.h>

#include "bootstrap/engine.h"
#include "core/text.h"
#include "script/run_hooks.h"
#include "ui/binding.h"
#include "ui/binding_rules.h"
#include "ui/dialog_pool.h"
#include "ui/page_window.h"

namespace orv {
namespace {

constexpr std::string_view kZornText = "$ZORN$";

bool silentRun(const Engine& e) { return e.startup.silent || isTrueText(e.vars.getValue("SILENT")); }

void setMarquee(HWND bar, bool on) {
  const LONG_PTR style = GetWindowLongPtrW(bar, GWL_STYLE);
  if (((style & PBS_MARQUEE) != 0) == on) {
    if (on) SendMessageW(bar, PBM_SETMARQUEE, TRUE, 100);
    return;
  }
  SetWindowLongPtrW(bar, GWL_STYLE, on ? style | PBS_MARQUEE : style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
  SendMessageW(bar, PBM_SETMARQUEE, on ? TRUE : FALSE, 100);
}

void setBar(HWND bar, int64_t minimum, int64_t maximum, int64_t position) {
  const BarRange r = barRange(minimum, maximum, position);
  PBRANGE now{};
  SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&now));
  if (now.iLow != r.minimum || now.iHigh != r.maximum)
    SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(r.minimum), static_cast<LPARAM>(r.maximum));
  if (SendMessageW(bar, PBM_GETPOS, 0, 0) != r.position) SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(r.position), 0);
}

void setBarToMaximum(HWND bar) {
  PBRANGE now{};
  SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&now));
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(now.iHigh), 0);
}

struct Progress {
  std::string text;
  int64_t minimum = 0, maximum = 0, position = 0;
  bool numbersValid = true;
};

void refreshControl(Page& page, PageControl& c, const Progress& p, bool marquee) {
  Engine& e = page.runtime->engine;
  switch (c.kind) {
    case ControlKind::Label:
    case ControlKind::Button:
    case ControlKind::StaticText: {
      // Captions that name variables follow them while the page is up.
      std::string text = e.vars.expand(page.runtime->registeredText(page.designFileName, c.name));
      if (c.kind == ControlKind::StaticText && c.tag == 1) text = p.text;
      if (c.kind == ControlKind::StaticText && c.tag >= 2 && c.tag <= 6) break;  // status texts
      if (c.window && windowText(c.window) != text) setWindowText(c.window, text);
      break;
    }
    case ControlKind::Panel:
    case ControlKind::GroupBox:
    case ControlKind::TabSheet: {
      const std::string text = e.vars.expand(page.runtime->registeredText(page.designFileName, c.name));
      if (c.caption != text) {
        c.caption = text;
        InvalidateRect(page.window, &c.bounds, FALSE);
      }
      break;
    }
    case ControlKind::ProgressBar:
      if (!c.window) break;
      if (c.tag == 1) {
        const bool gauge = equalsNoCase(c.className, "TGauge");
        if (marquee && !gauge) {
          setMarquee(c.window, true);
        } else {
          if (!gauge) setMarquee(c.window, false);
          if (!p.numbersValid) setBarToMaximum(c.window);
          else setBar(c.window, p.minimum, p.maximum, p.position);
        }
      } else if (c.tag == 100 && !c.hint.empty()) {
        SendMessageW(c.window, PBM_SETRANGE32, 0, 100);
        int64_t value = 0;
        const bool number = parseInt64(e.vars.expand("$" + c.hint + "$"), value);
        const WPARAM position = number ? static_cast<WPARAM>(value) : 100;
        if (static_cast<WPARAM>(SendMessageW(c.window, PBM_GETPOS, 0, 0)) != position) SendMessageW(c.window, PBM_SETPOS, position, 0);
      }
      break;
    default:
      break;
  }
}

}  // namespace

void setTaskbarAttention(DialogRuntime& rt, bool on, bool error) {
  VariableStore& v = rt.engine.vars;
  const std::string mode = rt.taskbar.attention(on, error, v.getValue("PROGRESSMODE"));
  v.defineVariable("PROGRESSMODE", mode, "Taskbar Attention");
  const HWND progressWindow = reinterpret_cast<HWND>(static_cast<intptr_t>(toInt64Or(v.getValue("WINDOWHANDLE"), 0)));
  TaskbarState state = TaskbarState::Normal;
  if (mode == "MARQUEE") state = TaskbarState::Indeterminate;
  else if (mode == "ERROR") state = TaskbarState::Error;
  else if (mode == "PAUSE") state = TaskbarState::Paused;
  if (progressWindow && IsWindow(progressWindow)) rt.taskbar.setState(progressWindow, state);
  else if (rt.current) rt.taskbar.setState(rt.current->window, state);
}

TaskbarAttention::TaskbarAttention(Engine& engine, bool error) : runtime_(dialogRuntime(engine)), error_(error) {
  if (runtime_) setTaskbarAttention(*runtime_, true, error_);
}

TaskbarAttention::~TaskbarAttention() {
  try {
    if (runtime_) setTaskbarAttention(*runtime_, false, error_);
  } catch (...) {
    // The box has closed either way; a taskbar that cannot be restored stays as it is.
  }
}

bool updateProgressDisplay(Engine& e, std::string_view text, bool reportCancel, int64_t minimum, int64_t maximum,
                           int64_t position) {
  VariableStore& v = e.vars;
  const bool cancelled = isTrueText(v.getValue("ZORN_IsCancelled"));
  if (reportCancel) v.setValue("ZORN_thCancelled", boolText(cancelled));
  if (silentRun(e)) return cancelled;
  Progress p{std::string(text), minimum, maximum, position, true};
  if (text == kZornText) {
    p.text = v.getValue("ZORN_thProgressText");
    p.numbersValid = parseInt64(v.getValue("ZORN_thProgress"), p.position) & parseInt64(v.getValue("ZORN_thMax"), p.maximum) &
                     parseInt64(v.getValue("ZORN_thMin"), p.minimum);
  }
  DialogRuntime* rt = dialogRuntime(e);
  if (!rt || !rt->current || !rt->current->window || !IsWindowVisible(rt->current->window)) return cancelled;
  Page& page = *rt->current;
  const std::string mode = v.getValue("PROGRESSMODE");
  rt->taskbar.show(page.window, taskbarView(mode, v.getValue("CUSTOM_TASKBAR_PROGRESS_ENABLED"),
                                            v.getValue("CUSTOM_TASKBAR_PROGRESS_PERCENT"),
                                            v.getValue("CUSTOM_TASKBAR_PROGRESS_MAX"), p.position, p.maximum));
  const bool marquee = v.expand("$PROGRESSMODE$") == "MARQUEE";
  for (const auto& c : page.controls) refreshControl(page, *c, p, marquee);
  evaluateDialogRules(page);
  return cancelled;
}

void progressTimerTick(Page& page) {
  Engine& e = page.runtime->engine;
  KillTimer(page.window, kProgressTimerId);
  if (e.workers.workerActive) updateProgressDisplay(e, kZornText, true, 0, 0, 0);
  SetTimer(page.window, kProgressTimerId, 1000, nullptr);
}

// The interpreter's hook: before a line when PROGRESS or PROGRESSTEXT changed, and when "Set Variable"
// writes either. While the modeless page runs, the values also become the current progress report, so
// the once-a-second refresh during a later worker starts from them.
void refreshProgressDisplay(Engine& engine, std::string_view text, int64_t position) {
  if (toInt64Or(engine.vars.getValue("WINDOWHANDLE"), 0) != 0) reportProgress(engine, text, 0, 100, position);
  updateProgressDisplay(engine, text, false, 0, 100, position);
}

}  // namespace orv
