// Background work: one worker thread at a time runs a long operation while the main thread waits,
// handling window messages (or blocking when silent). Workers never touch windows; progress and the
// cancel state travel through the reserved ZORN_* variables.
#pragma once
#include <cstdint>
#include <functional>
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
// thrown by the job are carried back and rethrown on the main thread. The caller handles a cancel
// (see finishCancelledStep) or, for media, in its own way.
WorkerOutcome runWorker(Engine& engine, WorkerKind kind, const std::function<void(WorkerContext&)>& job);

// Step 5 of running a worker after a cancel: the "Setup cancelled" message unless silent or already
// aborted, then either ends the script run (ABORTONERROR true; returns true) or records ABORTEDONERROR
// with the given label (returns false).
bool finishCancelledStep(Engine& engine, std::string_view cancelLabel);

// PumpOrWait without a worker: handle one window message unless silent.
void pumpOneMessage(Engine& engine);

}  // namespace orv
