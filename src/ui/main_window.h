// The hidden main window: never shown, created on the UI thread the first time something needs it, and
// owner of the engine's shared UI objects. For now that is the worker watchdog timers and the hand-over
// of work from other threads to the UI thread; the page runtime adds its tray icons, menus and taskbar
// set-up here.
#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <memory>

namespace orv {

struct Engine;

class MainWindow {
 public:
  MainWindow();  // on the UI thread; throws std::runtime_error when the window cannot be created
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  HWND handle() const { return window_; }
  DWORD threadId() const { return threadId_; }

  // Timers owned by the window; `onTick` runs on the UI thread. Starting a running timer keeps its
  // period and its handler (it does not restart).
  void startTimer(UINT_PTR id, UINT intervalMs, std::function<void()> onTick);
  void stopTimer(UINT_PTR id);
  bool timerRunning(UINT_PTR id) const { return timers_.count(id) != 0; }

  // Runs `fn` on the UI thread and waits for it: directly when called there, else through a sent
  // message. An exception from `fn` is rethrown to the caller.
  void invoke(const std::function<void()>& fn);
  // Queues `fn` for the UI thread without waiting (any thread). Returns false when it could not be
  // queued (the window is gone or the queue is full); `fn` is then dropped.
  bool post(std::function<void()> fn);

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void onTimer(UINT_PTR id);

  HWND window_ = nullptr;
  DWORD threadId_ = 0;
  std::map<UINT_PTR, std::function<void()>> timers_;  // the running ones
};

// The engine's hidden main window, created on first use (call on the UI thread).
MainWindow& mainWindow(Engine& engine);

}  // namespace orv
