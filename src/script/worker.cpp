// Background work: the worker thread, the main thread's wait loop, the watchdogs and the cancel step.
//
// Forced ends and why they are safe
// ---------------------------------
// After a cancel, a worker that stops reporting (or one that waits for a started program) is ended with
// TerminateThread. That call is made in exactly one place, endWorkerForcibly(), reached only from a
// watchdog timer on the UI thread. A thread ended that way never runs its unwinding, so anything it held
// at that instant would stay held for the rest of the process. The engine therefore ends a worker only
// at an instant when it holds nothing that others share:
//   1. The worker is suspended, and GetThreadContext waits until it really stands still.
//   2. It must not be inside a NoForcedEnd scope (a counter on its run object says so). reportProgress and
//      every update of shared state that outlives a forced end run inside one.
//   3. A probe thread, created beforehand and now released, must get through the locks every thread
//      shares: each heap of the process (malloc and new), the loader lock and the variable store's lock.
//      If the suspended worker holds any of them the probe blocks; the worker is then let go again.
//   4. Only when both hold is the suspended thread terminated; otherwise it is resumed and the check is
//      repeated a little later, for at most kForcedEndPatienceMs. Between suspending and resuming, the UI
//      thread itself calls nothing that allocates or takes a lock.
// A worker that is still inside a NoForcedEnd scope or a shared lock after that time is left running
// and tried again at the watchdog's next tick; the wait goes on (with the window alive) until it can be
// ended safely. Only a worker that breaks the rules below can make that take long.
//
// What a worker must not do:
//   - hold any lock (the store's, a mutex of its own that the UI thread also takes) across a call that
//     can block: a wait, file or network I/O, a sent message, a started program. The store never holds
//     its lock while calling out, so reading and writing variables is always fine.
//   - block inside a NoForcedEnd scope;
//   - touch windows (hand questions to the UI thread with runOnMainThread);
//   - write engine-wide lists or fields that the UI thread reads after the step, except inside a
//     NoForcedEnd scope. Its own outputs live in the job's captures and are read only after a Completed
//     outcome; a forcibly ended worker's memory is abandoned, never read or freed.
#include "script/worker.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <string>
#include <utility>

#include "bootstrap/engine.h"
#include "bootstrap/trace.h"
#include "core/text.h"
#include "platform/handles.h"
#include "platform/strings.h"
#include "ui/dialog_pool.h"
#include "ui/main_window.h"
#include "ui/progress_page.h"

namespace orv {

struct WorkerRun {
  Engine* engine = nullptr;
  WorkerKind kind = WorkerKind::NativeEngine;
  std::function<void(WorkerContext&)> job;
  UniqueHandle thread;
  std::atomic<bool> stop{false};
  std::atomic<int> noForcedEndDepth{0};
  std::exception_ptr failure;  // written by the worker before its hand-over
  bool done = false;           // UI thread only
  bool endedForcibly = false;  // UI thread only
};

namespace {

constexpr std::string_view kZornText = "$ZORN$";
constexpr std::string_view kIgnoreText = "$IGNORE$";
constexpr std::string_view kCancelledMessage = "Setup cancelled";
constexpr UINT_PTR kWatchdogTimerBase = 0x5700;  // + kind: spoolTimer, thxTimer, ... traxTimer
constexpr DWORD kForcedEndPatienceMs = 500;
constexpr DWORD kProbeWaitMs = 100;
constexpr DWORD kForcedExitCode = 0xDEAD;
constexpr DWORD kLoopWakeMs = 1000;  // a cancel is noticed within this even when no message arrives

size_t indexOf(WorkerKind kind) { return static_cast<size_t>(kind); }
UINT_PTR watchdogTimerOf(WorkerKind kind) { return kWatchdogTimerBase + indexOf(kind); }

bool immediateWatchdog(WorkerKind kind) { return kind == WorkerKind::RunProgram || kind == WorkerKind::RunAs; }

bool silentRun(const Engine& e) { return isTrueText(e.vars.getValue("SILENT")); }
bool cancelPending(const Engine& e) { return isTrueText(e.vars.getValue("ZORN_IsCancelled")); }

// The worker run of the calling thread (a TLS slot: no allocation on first use, unlike thread_local).
DWORD runSlot() {
  static const DWORD slot = TlsAlloc();
  return slot;
}
WorkerRun* currentRun() { return static_cast<WorkerRun*>(TlsGetValue(runSlot())); }

void traceLine(Engine& e, std::string_view text) {
  if (e.trace) e.trace->line(text);
}

class RunContext final : public WorkerContext {
 public:
  explicit RunContext(const WorkerRun& run) : run_(run) {}
  bool stopRequested() const override { return run_.stop.load(); }

 private:
  const WorkerRun& run_;
};

// The completion step, on the UI thread: the done flag, then a null message so that a wait for the next
// message returns.
void completeOnMainThread(Engine& e, WorkerRun& run) {
  if (run.done) return;
  run.done = true;
  if (e.hiddenMainWindow) PostMessageW(e.hiddenMainWindow->handle(), WM_NULL, 0, 0);
}

DWORD WINAPI workerEntry(void* parameter) {
  // The thread owns one reference; a forced end abandons it with the rest of the thread's memory.
  std::shared_ptr<WorkerRun> run(std::move(*static_cast<std::shared_ptr<WorkerRun>*>(parameter)));
  delete static_cast<std::shared_ptr<WorkerRun>*>(parameter);
  TlsSetValue(runSlot(), run.get());
  try {
    RunContext context(*run);
    run->job(context);
  } catch (...) {
    run->failure = std::current_exception();
  }
  try {
    NoForcedEnd handingOver;
    std::weak_ptr<WorkerRun> weak = run;
    Engine* engine = run->engine;
    // The UI thread also sees the thread end, so a hand-over that cannot be queued loses nothing.
    if (engine->hiddenMainWindow)
      engine->hiddenMainWindow->post([engine, weak] {
        if (auto r = weak.lock()) completeOnMainThread(*engine, *r);
      });
  } catch (...) {
  }
  TlsSetValue(runSlot(), nullptr);
  return 0;
}

// Step 3 of a forced end: a thread that takes and releases the locks every thread shares. It is created
// before the worker is suspended (creating a thread may itself need those locks) and released after.
class SharedLockProbe {
 public:
  explicit SharedLockProbe(Engine& e) : engine_(e) {}
  bool start() {
    if (!go_) return false;
    thread_.reset(CreateThread(nullptr, 0, &SharedLockProbe::entry, this, 0, nullptr));
    return thread_ != nullptr;
  }
  void release() { SetEvent(go_.get()); }
  bool finishedWithin(DWORD ms) { return WaitForSingleObject(thread_.get(), ms) == WAIT_OBJECT_0; }

 private:
  static DWORD WINAPI entry(void* parameter) {
    auto* probe = static_cast<SharedLockProbe*>(parameter);
    WaitForSingleObject(probe->go_.get(), INFINITE);
    HANDLE heaps[256];
    const DWORD count = GetProcessHeaps(256, heaps);
    for (DWORD i = 0; i < count && i < 256; ++i) {
      if (HeapLock(heaps[i])) HeapUnlock(heaps[i]);
    }
    if (HMODULE kernel = LoadLibraryW(L"kernel32.dll")) FreeLibrary(kernel);  // the loader lock
    (void)probe->engine_.vars.exists("ZORN_IsCancelled");                     // the store's lock
    return 0;
  }

  Engine& engine_;
  UniqueHandle go_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle thread_;
};

enum class ForcedEnd { Ended, EndedByItself, NotNow };
enum class Attempt { Ended, EndedByItself, Busy, Failed };

// One pass of steps 1 to 4 of a forced end.
Attempt tryEndWorker(Engine& e, WorkerRun& run) {
  HANDLE thread = run.thread.get();
  if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) return Attempt::EndedByItself;
  auto probe = std::make_unique<SharedLockProbe>(e);
  if (!probe->start()) return Attempt::Failed;
  if (SuspendThread(thread) == DWORD(-1)) {
    probe->release();
    probe->finishedWithin(INFINITE);
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0 ? Attempt::EndedByItself : Attempt::Failed;
  }
  // From here until the worker runs again or has ended, this thread allocates nothing and takes no lock.
  CONTEXT context{};
  context.ContextFlags = CONTEXT_CONTROL;
  GetThreadContext(thread, &context);  // returns once the suspension has taken effect
  bool safe = run.noForcedEndDepth.load() == 0;
  probe->release();
  safe = safe && probe->finishedWithin(kProbeWaitMs);
  if (safe && TerminateThread(thread, kForcedExitCode)) {
    WaitForSingleObject(thread, INFINITE);  // termination completes asynchronously
    return Attempt::Ended;
  }
  ResumeThread(thread);
  if (!probe->finishedWithin(kForcedEndPatienceMs))
    (void)probe.release();  // still inside a lock the worker holds: its memory must outlive it
  return Attempt::Busy;
}

ForcedEnd endWorkerForcibly(Engine& e, WorkerRun& run) {
  const ULONGLONG deadline = GetTickCount64() + kForcedEndPatienceMs;
  do {
    switch (tryEndWorker(e, run)) {
      case Attempt::Ended: return ForcedEnd::Ended;
      case Attempt::EndedByItself: return ForcedEnd::EndedByItself;
      case Attempt::Failed: return ForcedEnd::NotNow;
      case Attempt::Busy: Sleep(10); break;
    }
  } while (GetTickCount64() < deadline);
  return ForcedEnd::NotNow;
}

void stopWatchdog(Engine& e, WorkerKind kind) {
  if (e.hiddenMainWindow) e.hiddenMainWindow->stopTimer(watchdogTimerOf(kind));
}

void startWatchdog(Engine& e, WorkerKind kind);

// The watchdog timer of `kind` fired.
void onWatchdog(Engine& e, WorkerKind kind) {
  stopWatchdog(e, kind);
  const std::shared_ptr<WorkerRun> run = e.workers.running[indexOf(kind)];
  if (!run || run->done) return;
  if (!immediateWatchdog(kind)) {
    const std::string reported = e.vars.getValue("ZORN_LastDelegateTick");
    if (reported != e.vars.getValue("ZORN_LastActiveTick")) {  // reported since the last look: alive
      e.vars.setValue("ZORN_LastActiveTick", reported);
      startWatchdog(e, kind);
      return;
    }
  }
  switch (endWorkerForcibly(e, *run)) {
    case ForcedEnd::Ended: run->endedForcibly = true; break;
    case ForcedEnd::EndedByItself: break;
    case ForcedEnd::NotNow:
      traceLine(e, "        <Worker>A cancelled worker cannot be ended safely yet; trying again</Worker>");
      startWatchdog(e, kind);
      return;
  }
  completeOnMainThread(e, *run);
}

void startWatchdog(Engine& e, WorkerKind kind) {
  mainWindow(e).startTimer(watchdogTimerOf(kind), e.workers.watchdogIntervalMs, [&e, kind] { onWatchdog(e, kind); });
}

bool watchdogRunning(Engine& e, WorkerKind kind) {
  return e.hiddenMainWindow && e.hiddenMainWindow->timerRunning(watchdogTimerOf(kind));
}

// Step 3's reaction to a pending cancel. The heartbeat reference is taken only when the watchdog
// starts: refreshing it on every turn would leave a worker that reports steadily only the time since the
// last handled message to prove itself alive, so a busy window would end it.
void noticeCancel(Engine& e, WorkerRun& run) {
  run.stop.store(true);
  if (watchdogRunning(e, run.kind)) return;
  e.vars.setValue("ZORN_LastActiveTick", e.vars.getValue("ZORN_LastDelegateTick"));
  startWatchdog(e, run.kind);
}

// Handles one queued message; false when none was queued. WM_QUIT is kept for the real message loop.
bool handleOneMessage(Engine& e) {
  MSG msg;
  if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  e.workers.lastPumpTick = GetTickCount64();
  if (msg.message == WM_QUIT) {
    e.workers.quitPending = true;
    e.workers.quitCode = static_cast<int>(msg.wParam);
    return true;
  }
  if (handlePageKeyboard(e, msg)) return true;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  return true;
}

void handBackQuit(Engine& e) {
  if (!e.workers.quitPending) return;
  e.workers.quitPending = false;
  PostQuitMessage(e.workers.quitCode);
}

// PumpOrWait with a worker.
void pumpOrWait(Engine& e, WorkerRun& run) {
  HANDLE thread = run.thread.get();
  if (silentRun(e)) {
    // Block until the worker ends; only calls that the worker hands over are delivered meanwhile.
    while (MsgWaitForMultipleObjectsEx(1, &thread, INFINITE, QS_SENDMESSAGE, 0) != WAIT_OBJECT_0) {
      MSG msg;
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    completeOnMainThread(e, run);
    return;
  }
  if (handleOneMessage(e)) return;
  const DWORD woke = MsgWaitForMultipleObjectsEx(1, &thread, kLoopWakeMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  if (woke == WAIT_OBJECT_0) {
    completeOnMainThread(e, run);
    return;
  }
  // When only sent messages were waiting, PeekMessage has delivered them and nothing is handled here.
  if (woke == WAIT_OBJECT_0 + 1) handleOneMessage(e);
}

std::shared_ptr<WorkerRun> startWorker(Engine& e, WorkerKind kind, const std::function<void(WorkerContext&)>& job) {
  auto run = std::make_shared<WorkerRun>();
  run->engine = &e;
  run->kind = kind;
  run->job = job;
  auto* handed = new std::shared_ptr<WorkerRun>(run);
  HANDLE thread = CreateThread(nullptr, 0, &workerEntry, handed, CREATE_SUSPENDED, nullptr);
  if (!thread) {
    delete handed;
    throw std::runtime_error("The worker thread could not be created (error " + std::to_string(GetLastError()) + ").");
  }
  run->thread.reset(thread);
  return run;
}

// Restores the per-kind slot and the active flag however the wait ends.
class ActiveWorker {
 public:
  ActiveWorker(Engine& e, std::shared_ptr<WorkerRun> run)
      : e_(e), run_(std::move(run)), previousActive_(e.workers.workerActive),
        previousRun_(std::exchange(e.workers.running[indexOf(run_->kind)], run_)) {
    e_.workers.workerActive = true;
  }
  ~ActiveWorker() {
    stopWatchdog(e_, run_->kind);
    e_.workers.running[indexOf(run_->kind)] = std::move(previousRun_);
    e_.workers.workerActive = previousActive_;
    if (!previousActive_) handBackQuit(e_);
  }
  ActiveWorker(const ActiveWorker&) = delete;
  ActiveWorker& operator=(const ActiveWorker&) = delete;

 private:
  Engine& e_;
  std::shared_ptr<WorkerRun> run_;
  bool previousActive_;
  std::shared_ptr<WorkerRun> previousRun_;
};

HWND windowOfHandleVariable(const Engine& e) {
  const int64_t value = toInt64Or(e.vars.getValue("WINDOWHANDLE"), 0);
  const HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(value));
  return value != 0 && IsWindow(window) ? window : nullptr;
}

}  // namespace

NoForcedEnd::NoForcedEnd() : run_(currentRun()) {
  if (run_) run_->noForcedEndDepth.fetch_add(1);
}

NoForcedEnd::~NoForcedEnd() {
  if (run_) run_->noForcedEndDepth.fetch_sub(1);
}

void reportProgress(Engine& engine, std::string_view text, int64_t minimum, int64_t maximum, int64_t position) {
  NoForcedEnd reporting;
  VariableStore& v = engine.vars;
  v.setValue("ZORN_LastDelegateTick", std::to_string(GetTickCount()));
  // "$ZORN$" would write back what the variables hold: only the heartbeat changes.
  if (text == kZornText) return;
  if (position != -1) {
    v.setValue("ZORN_thMax", std::to_string(maximum));
    v.setValue("ZORN_thMin", std::to_string(minimum));
    v.setValue("ZORN_thProgress", std::to_string(position));
  }
  if (text != kIgnoreText) v.setValue("ZORN_thProgressText", text);
}

WorkerOutcome runWorker(Engine& engine, WorkerKind kind, const std::function<void(WorkerContext&)>& job) {
  (void)runSlot();   // the slot exists before any worker asks for it
  (void)mainWindow(engine);  // the window that owns the watchdogs and receives the hand-over
  const std::shared_ptr<WorkerRun> run = startWorker(engine, kind, job);
  {
    ActiveWorker active(engine, run);
    ResumeThread(run->thread.get());
    do {
      pumpOrWait(engine, *run);
      if (!run->done && cancelPending(engine)) noticeCancel(engine, *run);
    } while (!run->done);
  }
  if (!run->endedForcibly) {
    WaitForSingleObject(run->thread.get(), INFINITE);  // it has handed over and is returning
    if (run->failure) std::rethrow_exception(run->failure);
  }
  return cancelPending(engine) ? WorkerOutcome::Cancelled : WorkerOutcome::Completed;
}

bool finishCancelledStep(Engine& engine, std::string_view cancelLabel) {
  VariableStore& v = engine.vars;
  if (!isTrueText(v.getValue("ABORTEDONERROR")) && !silentRun(engine)) {
    const TaskbarAttention failure(engine, true);
    MessageBoxW(windowOfHandleVariable(engine), widen(kCancelledMessage).c_str(), widen(engine.caption()).c_str(),
                MB_OK | MB_ICONERROR);
  }
  if (isTrueText(v.getValue("ABORTONERROR"))) return true;
  v.defineVariable("ABORTEDONERROR", "TRUE", cancelLabel);
  return false;
}

void pumpOneMessage(Engine& engine) {
  if (silentRun(engine)) return;
  if (!handleOneMessage(engine)) {
    MsgWaitForMultipleObjectsEx(0, nullptr, kPumpWaitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    handleOneMessage(engine);
  }
  handBackQuit(engine);
}

void runOnMainThread(Engine& engine, const std::function<void()>& fn) {
  // Workers exist only after runWorker created the window, so without one the caller is the UI thread.
  if (!engine.hiddenMainWindow) {
    fn();
    return;
  }
  engine.hiddenMainWindow->invoke(fn);
}

}  // namespace orv
