// One native engine job on the worker thread: a single action, the replay of the deferred queue, a
// rollback or an uninstall. The job carries the flags its steps share (deferred run, byte progress,
// nested step), the current platform, progress, the retry loop, the user's decisions and the undo
// records, so the kind procedures (native_*.cpp) stay small.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/variables.h"
#include "platform/registry.h"

namespace orv {

struct Engine;
class WorkerContext;
struct NativeEngineState;

enum class JobMode { Action, DelayedInstall, Uninstall, Rollback };

using Fields = std::vector<std::string>;

// How one step of the retry loop ended.
enum class StepOutcome { Done, Ignored, Aborted };

class NativeJob {
 public:
  // `worker` may be null (the job then never sees a stop request).
  NativeJob(Engine& engine, WorkerContext* worker, JobMode mode, int64_t progressMaximum);

  Engine& engine() const { return engine_; }
  VariableStore& vars() const;
  NativeEngineState& state() const { return state_; }
  JobMode mode() const { return mode_; }

  // Flags shared by the steps of one job.
  bool deferredRun = false;
  bool byteProgress = false;
  bool nested = false;

  // The platform of the action or record being carried out: its file-system and registry view.
  const std::string& platform() const { return platform_; }
  void setPlatform(std::string platform) { platform_ = std::move(platform); }
  RegistryView view() const;
  // The path the file system is given for a path of the script (see platform/redirection.h).
  std::string fsPath(std::string_view path) const;
  bool fileExists(std::string_view path) const;
  bool folderExists(std::string_view path) const;

  // StepProgress: adds the weight (none while nested) to NATIVE_PROGRESS and reports it; false once the
  // job has been asked to stop (a rollback never stops).
  bool stepProgress(std::string_view text, int64_t weight);
  int64_t progressMaximum() const { return maximum_; }
  void setProgressMaximum(int64_t maximum) { maximum_ = maximum; }
  int64_t progress() const;
  void setProgress(int64_t value);

  // DecideOnError: code 0 answers neither; see the error question.
  struct ErrorDecision {
    bool retry = false;
    bool abort = false;
  };
  ErrorDecision decideOnError(std::string_view message, int64_t code);
  // DecideOverwrite(new file, existing file).
  struct OverwriteDecision {
    bool overwrite = false;
    bool cancel = false;
  };
  OverwriteDecision decideOverwrite(std::string_view newFile, std::string_view existingFile);

  // The retry loop: calls `attempt` (0 for success, else a system error code) until it succeeds, or the
  // user ignores the error (Ignored) or aborts (Aborted).
  StepOutcome retry(std::string_view subject, const std::function<DWORD()>& attempt);
  // Set once an error question was answered with abort (or Cancel); the job then ends.
  bool aborted() const { return aborted_; }

  // RecordUndo of the performed kind; true when a record was added (logging on, and for "Create Folder"
  // only when a level is missing). WithdrawLastUndo removes the last pending record.
  bool recordUndo(std::string_view performedKind, std::string_view data);
  void withdrawLastUndo();

  // One action: its trace lines, its fields, its kind's procedure; true when it completed.
  bool runAction(std::string_view kind, std::string_view data);
  // A nested "Create Folder" or "Write Registry" step on the same thread (progress weight 0).
  bool runNested(std::string_view kind, const Fields& fields);

  void trace(std::string_view line) const;
  void setRebootNeeded();

  // Runs `fn` on the UI thread and waits (questions, shell objects that need it).
  void onMainThread(const std::function<void()>& fn) const;

 private:
  Engine& engine_;
  NativeEngineState& state_;
  WorkerContext* worker_;
  JobMode mode_;
  int64_t maximum_;
  std::string platform_;
  bool aborted_ = false;
  std::optional<std::string> logBase_;  // where this job's records go, found at its first record
};

// A kind's procedure: true when the action completed, false when it failed.
using KindProcedure = bool (*)(NativeJob&, const Fields&);
// The procedure of an action kind, or null for a kind the native engine does not carry out.
KindProcedure kindProcedure(std::string_view kind);
// The inverse of an undo record kind ("Delete File", ...); the procedure ends with its own progress step.
// Returns false only when an abort was answered.
using InverseProcedure = bool (*)(NativeJob&, const Fields&, int64_t weight);
InverseProcedure inverseProcedure(std::string_view kind);

// Root names and handles of the registry fields of actions and records.
HKEY rootOfCode(std::string_view code);           // "0".."3"
std::string rootNameOfCode(std::string_view code);  // "HKEY_CLASSES_ROOT" ...
HKEY rootOfHandleText(std::string_view text);      // "-2147483647" ...
std::string handleTextOf(HKEY root);
std::string rootNameOf(HKEY root);

}  // namespace orv
