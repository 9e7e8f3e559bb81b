// The native engine's plan: which engine is in force, how an installing command becomes a NativeAction
// that runs at once or waits in the deferred queue for "Apply Changes", the undo records every change
// leaves in the pending lists, and the four log files they are flushed to.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

struct Engine;

// The settings NATIVE_ENGINE, DELAYUNTIL_APPLYCHANGES and NATIVE_ROLLBACK.
bool isNativeEngine(const Engine& engine);
bool isDeferred(const Engine& engine);
bool rollbackEnabled(const Engine& engine);
// Undo records are kept unless NATIVE_LOGGING is "FALSE".
bool nativeLoggingOn(const Engine& engine);

// The platform text current for new actions ("Win32", "x64", "ia64").
const std::string& currentPlatform(Engine& engine);
void setCurrentPlatform(Engine& engine, std::string platform);

// The data list of an action of `kind` for the 1-based script line: the handler's prepared fields
// followed by the fields taken from the line's parameters.
std::vector<std::string> actionData(Engine& engine, std::string_view kind, size_t line);
// The kind's queue weight (for "Copy/Move Local Files" the size of the files matching now).
int64_t queueWeight(Engine& engine, std::string_view kind, const std::vector<std::string>& data);
// A line's command header (image table Q); throws ScriptError "Unable to obtain command headers..."
// when the table has none for it.
std::string commandHeaderOf(const Engine& engine, size_t line);

// RunOrQueueNativeAction: false when the sources could not be found, or the user cancelled (or answered
// abort) while ABORTONERROR is "TRUE"; the handler then ends the run (endScriptRun).
bool runOrQueueNativeAction(Engine& engine, std::string_view kind, size_t line);
// In maintenance, with the setup's package missing: asks the user where the original sources are
// (silent runs do not ask). True with the sources found; otherwise LASTERROR says so, set by `source`.
bool askForSources(Engine& engine, std::string_view source);
// Replays the deferred queue ("Apply Changes"), rolling back after a failure when NATIVE_ROLLBACK allows.
// The job's result stays in nativeState(engine).lastJob.
bool runDeferredActions(Engine& engine);
// Replays the undo log backwards; "ROLLBACK" always completes, "UNINSTALL" stops on a cancel.
enum class UndoMode { Rollback, Uninstall };
bool runUndo(Engine& engine, UndoMode mode);
// The roll-back of step 5b of a cancelled background step: when the native engine is in use and its
// rollback is enabled, undo the native changes made so far.
void rollbackNativeChanges(Engine& engine);

// Undo log files.
// Appends the pending records to the four files at `base`; returns the folder it had to create (or that
// writing the records through had to create since the last flush), or empty. Throws ScriptError with the
// file system's error when the files cannot be written.
std::string flushUndoLog(Engine& engine, const std::string& base);
// On the job's thread, as each record is made: writes the pending records through to the log at `base`
// (creating its folder when missing). Records the log cannot take stay pending and the trace says why.
void writePendingUndo(Engine& engine, const std::string& base);
// Takes back the last record made: from the pending list, or from the log it already reached.
void withdrawLastRecord(Engine& engine);
// True when the folder part of `base` is not empty and all four files exist; with `create`, makes the
// four files empty when none of them exists.
bool undoLogExists(const std::string& base, bool create);
std::string undoLogBase(Engine& engine);
bool instanceHasNativeLog(Engine& engine);
// Keep a whole log in memory while the engine cache folder is removed, and write it back.
void loadUndoLog(Engine& engine);
void saveUndoLog(Engine& engine);

}  // namespace orv
