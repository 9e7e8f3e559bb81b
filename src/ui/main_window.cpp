#include "ui/main_window.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "bootstrap/engine.h"

namespace orv {
namespace {

constexpr wchar_t kClassName[] = L"OrvaneHiddenMainWindow";
constexpr UINT kInvokeMessage = WM_APP + 1;  // lParam: Invocation*, sent
constexpr UINT kPostedMessage = WM_APP + 2;  // lParam: std::function<void()>*, posted; the receiver frees it

struct Invocation {
  const std::function<void()>* fn;
  std::exception_ptr failure;
};

void registerClassOnce(HINSTANCE instance) {
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof(cls);
  cls.lpfnWndProc = DefWindowProcW;  // replaced per window once its object is attached
  cls.hInstance = instance;
  cls.lpszClassName = kClassName;
  if (!RegisterClassExW(&cls) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw std::runtime_error("The hidden main window class could not be registered.");
}

}  // namespace

MainWindow::MainWindow() : threadId_(GetCurrentThreadId()) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  registerClassOnce(instance);
  // A hidden top-level window rather than a message-only one: the tray and the taskbar need broadcast
  // messages, which message-only windows never get.
  window_ = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"ImageListPool", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            instance, nullptr);
  // Without a desktop (a service session, a display-less test host) a message-only window still carries
  // the timers and the hand-over.
  if (!window_)
    window_ = CreateWindowExW(0, kClassName, L"ImageListPool", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  if (!window_) throw std::runtime_error("The hidden main window could not be created.");
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWindow::procedure));
}

MainWindow::~MainWindow() {
  for (const auto& timer : timers_) KillTimer(window_, timer.first);
  // Work queued for the window but never delivered is freed here, not leaked.
  MSG msg;
  while (PeekMessageW(&msg, window_, kPostedMessage, kPostedMessage, PM_REMOVE))
    delete reinterpret_cast<std::function<void()>*>(msg.lParam);
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

void MainWindow::startTimer(UINT_PTR id, UINT intervalMs, std::function<void()> onTick) {
  if (timerRunning(id)) return;
  if (!SetTimer(window_, id, intervalMs, nullptr)) throw std::runtime_error("A timer could not be started.");
  timers_.emplace(id, std::move(onTick));
}

void MainWindow::stopTimer(UINT_PTR id) {
  if (timers_.erase(id)) KillTimer(window_, id);
}

void MainWindow::invoke(const std::function<void()>& fn) {
  if (GetCurrentThreadId() == threadId_) {
    fn();
    return;
  }
  Invocation call{&fn, nullptr};
  SendMessageW(window_, kInvokeMessage, 0, reinterpret_cast<LPARAM>(&call));
  if (call.failure) std::rethrow_exception(call.failure);
}

bool MainWindow::post(std::function<void()> fn) {
  auto* queued = new std::function<void()>(std::move(fn));
  if (PostMessageW(window_, kPostedMessage, 0, reinterpret_cast<LPARAM>(queued))) return true;
  delete queued;
  return false;
}

void MainWindow::onTimer(UINT_PTR id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;  // stopped after the tick was queued
  const std::function<void()> onTick = it->second;  // the handler may stop or restart its own timer
  onTick();
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      onTimer(wParam);
      return 0;
    case kInvokeMessage: {
      auto* call = reinterpret_cast<Invocation*>(lParam);
      try {
        (*call->fn)();
      } catch (...) {
        call->failure = std::current_exception();
      }
      return 0;
    }
    case kPostedMessage: {
      std::unique_ptr<std::function<void()>> queued(reinterpret_cast<std::function<void()>*>(lParam));
      (*queued)();
      return 0;
    }
    case WM_CLOSE:
      return 0;  // never closed by a request; the engine frees it
    default:
      return DefWindowProcW(window_, message, wParam, lParam);
  }
}

LRESULT CALLBACK MainWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) {
    if (message == kPostedMessage) delete reinterpret_cast<std::function<void()>*>(lParam);
    return DefWindowProcW(window, message, wParam, lParam);
  }
  try {
    return self->handle(message, wParam, lParam);
  } catch (...) {
    // Exceptions never cross the window procedure; work that must report a failure carries it itself.
    return 0;
  }
}

MainWindow& mainWindow(Engine& engine) {
  if (!engine.hiddenMainWindow) engine.hiddenMainWindow = std::make_shared<MainWindow>();
  return *engine.hiddenMainWindow;
}

}  // namespace orv
