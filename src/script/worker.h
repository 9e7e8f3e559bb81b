// Background work: one worker thread at a time runs a long operation while the main thread waits,
// handling window messages (or blocking when silent). Workers never touch windows; progress and the
// cancel state travel through the reserved ZORN_* variables.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace orv {

struct Engine;

enum class WorkerKind {
  NativeEngine,    // heartbeat watchdog
  ExtractMedia,    // heartbeat
  GrabMedia,       // heartbeat
  CopyMedia,       // heartbeat
  DirectExtract,   // heartbeat
  FindFiles,       // heartbeat
  PlugIn,          // heartbeat
  RunProgram,      // immediate watchdog
  RunAs,           // immediate
};
inline constexpr size_t kWorkerKindCount = 9;

struct WorkerRun;  // one worker thread and its hand-over state (worker.cpp)

// The protocol's engine-wide state (Engine::workers); touched on the UI thread only.
struct WorkerProtocolState {
  // Set while a wait loop for a worker runs; the pages' progress timers refresh only then.
  bool workerActive = false;
  // GetTickCount64 when window messages were last handled by this protocol.
  uint64_t lastPumpTick = 0;
  // Period of every watchdog after a cancel (5000 ms; tests shorten it).
  uint32_t watchdogIntervalMs = 5000;
  // Per kind: the worker being waited for (its done flag and watchdog timer go with it).
  std::array<std::shared_ptr<WorkerRun>, kWorkerKindCount> running;
  // A WM_QUIT met while waiting, handed back to the queue once the outermost wait has ended.
  bool quitPending = false;
  int quitCode = 0;
};

// Passed to the job on the worker thread.
class WorkerContext {
 public:
  virtual ~WorkerContext() = default;
  // True once the main thread asked the worker to stop (cooperative).
  virtual bool stopRequested() const = 0;
};

// ReportProgress: callable from any thread. `text` "$ZORN$" only refreshes the heartbeat; "$IGNORE$"
// keeps the current text; position -1 keeps the numbers.
void reportProgress(Engine& engine, std::string_view text, int64_t minimum, int64_t maximum, int64_t position);

// How a worker step ended, after the cancel handling of the wait loop.
enum class WorkerOutcome { Completed, Cancelled };

// Runs `job` on a new worker thread and waits for it (steps 1 to 4 of running a worker). Exceptions
// thrown by the job are carried back and rethrown on the main thread, after a cancel too (a job that
// stops on request returns normally). The caller handles a cancel (see finishCancelledStep) or, for
// media, in its own way. A worker ended by its watchdog leaves its own outputs unfinished: read them only
// after a Completed outcome.
WorkerOutcome runWorker(Engine& engine, WorkerKind kind, const std::function<void(WorkerContext&)>& job);

// Step 5 of running a worker after a cancel: the "Setup cancelled" message unless silent or already
// aborted, then either ends the script run (ABORTONERROR true; returns true) or records ABORTEDONERROR
// with the given label (returns false).
bool finishCancelledStep(Engine& engine, std::string_view cancelLabel);

// PumpOrWait without a worker: handle one window message unless silent. When none is queued it waits
// for the next one, but at most kPumpWaitMs, so a caller without timers on screen cannot hang here.
inline constexpr uint32_t kPumpWaitMs = 100;
void pumpOneMessage(Engine& engine);

// For worker code.

// Runs `fn` on the UI thread and waits for it (questions to the user, anything that touches a window).
// Works in silent runs too (the silent wait still delivers these calls). Exceptions reach the caller.
void runOnMainThread(Engine& engine, const std::function<void()>& fn);

// While one of these lives on a worker thread the watchdog never ends that thread; it waits until the
// scope is left. Wrap every update of state that the UI thread reads after a forced end (a shared list,
// a file other code reads) in one, and never block inside one. reportProgress uses one itself.
class NoForcedEnd {
 public:
  NoForcedEnd();
  ~NoForcedEnd();
  NoForcedEnd(const NoForcedEnd&) = delete;
  NoForcedEnd& operator=(const NoForcedEnd&) = delete;

 private:
  WorkerRun* run_;
};

}  // namespace orv
