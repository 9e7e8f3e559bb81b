// The native installation engine's state for one process (Engine::native): the deferred queue, the
// pending undo records, the platform text, the last job's result and the seams to the user and to the
// assembly cache.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engines/undo_log.h"

namespace orv {

struct Engine;

// One action held back until "Apply Changes".
struct QueuedAction {
  std::string kind;
  size_t line = 0;  // 1-based script line
  std::string data;  // comma text
  std::string platform;
};

// Answers of the overwrite and error questions (the buttons both offer).
enum class Answer { Yes, No, Cancel, NoToAll, YesToAll };
enum class QuestionKind { Overwrite, Error };

// Questions to the user; always called on the UI thread.
class NativeQuestions {
 public:
  virtual ~NativeQuestions() = default;
  virtual Answer ask(QuestionKind kind, const std::string& caption, const std::string& text) = 0;
  // A folder the user picks when the setup's sources are missing; empty when they give up.
  virtual std::string locateSources(const std::string& prompt) = 0;
};

// The system's global assembly cache (absent under Wine, so tests put a stand-in here).
class AssemblyCache {
 public:
  virtual ~AssemblyCache() = default;
  virtual bool install(const std::string& path, bool forceRefresh) = 0;
  virtual bool uninstall(const std::string& displayName) = 0;
};

// The outcome of the last native job: 1 completed, 0 failed or cancelled, -1 an exception escaped (the
// message is then its text).
struct NativeJobResult {
  int code = 1;
  std::string message;
};

struct NativeEngineState {
  // The platform text of "Set 64 Bit Mode": decides the file-system and registry view of every later
  // action.
  std::string platform = "Win32";

  std::vector<QueuedAction> queue;  // never cleared: every installing "Apply Changes" replays it
  int64_t queueWeight = 0;

  // Undo records not yet in the log: each is written through to the log as it is made, so only those
  // the log could not take wait here (a rollback in this process still replays them). Written by the
  // job thread (while the UI thread only waits), flushed by the UI thread.
  std::vector<UndoRecord> pending;
  // The log the records go to, open from a job's first record to the job's end (or the next flush).
  std::unique_ptr<UndoJournal> journal;
  // The folder writing the log at `base` had to create, until a flush reports it; a rollback that finds
  // it removes the log again.
  struct CreatedLogFolder {
    std::string base;
    std::string folder;
  } journalCreated;
  // A log that could not be opened during the current job; its records stay pending.
  std::string journalFailedBase;
  // Per log (upper-cased base): how many records it held before this run first wrote to it. A rollback
  // undoes only what came after them; the earlier runs' records belong to the installed product.
  std::map<std::string, size_t> recordsBeforeRun;
  // A whole log kept in memory while the engine cache folder is removed.
  std::optional<std::string> keptLogBase;
  std::vector<UndoRecord> keptLog;

  // Set when a replacement or deletion waits for the next start; never cleared.
  std::atomic<bool> rebootNeeded{false};
  NativeJobResult lastJob;

  // The fields a command handler prepares before handing its action over (shortcuts, file types,
  // services, environment, INI files).
  std::vector<std::string> prepared;
  // The folder the user pointed at when the setup's sources were missing; empty while the data folder
  // serves.
  std::string sourceFolder;

  // Copies (or moves) one file reporting through the system's progress routine, as CopyFileEx does.
  // Null: the system's own calls. Wine's never call the routine, so tests put a stand-in here that copies
  // in chunks and reports each one. Set before a job starts; read by the job's thread.
  using CopyRoutine = std::function<BOOL(const std::wstring& from, const std::wstring& to, bool move,
                                         LPPROGRESS_ROUTINE progress, void* data)>;
  CopyRoutine copyWithProgress;

  std::shared_ptr<NativeQuestions> questions;   // null: the engine's own dialogs
  std::shared_ptr<AssemblyCache> assemblyCache;  // null: the system's, on first use
};

// The engine's native state, created on first use (UI thread).
NativeEngineState& nativeState(Engine& engine);
// The questions in force: the state's, or the engine's own dialogs.
NativeQuestions& nativeQuestions(Engine& engine);
// The assembly cache in force: the state's, or the system's (created on first use).
AssemblyCache& assemblyCache(Engine& engine);
// The system's assembly cache through the framework's Fusion library (native_assembly.cpp).
std::shared_ptr<AssemblyCache> systemAssemblyCache(Engine& engine);
// The engine's own question dialogs (native_questions.cpp).
std::shared_ptr<NativeQuestions> dialogQuestions(Engine& engine);

}  // namespace orv
