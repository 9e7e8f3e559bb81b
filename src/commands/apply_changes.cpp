// "Apply Changes" commits the run's installation or removal, "Apply Patch" a patch, and "Set 64 Bit
// Mode" picks the platform later actions work under. With the native engine the install commands have
// run or wait in the deferred queue: a removal replays the undo log backwards, an install replays the
// queue (rolled back when it fails), and on success the instance is registered or its cache and
// registration removed. Windows Installer mode is not part of this engine build and answers "ERROR".
#include <windows.h>

#include "bootstrap/engine.h"
#include "bootstrap/trace.h"
#include "core/text.h"
#include "engines/maintenance.h"
#include "engines/maintenance_files.h"
#include "engines/native_kinds.h"
#include "engines/native_plan.h"
#include "engines/native_state.h"
#include "engines/undo_log.h"
#include "media/acquire_media.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "platform/system.h"
#include "script/command.h"
#include "script/commands.h"
#include "script/interpreter.h"

namespace orv {
namespace {

constexpr std::string_view kSetupCancelled = "Setup cancelled";
constexpr std::string_view kNoInstaller = "Windows Installer mode is not available in this setup engine";

enum ResultCode { kError = -1, kCancel = 0, kComplete = 1, kReboot = 2 };

const char* resultText(int code) {
  switch (code) {
    case kError: return "ERROR";
    case kComplete: return "COMPLETE";
    case kReboot: return "REBOOT";
    default: return "CANCEL";
  }
}

bool isTrue(const Engine& e, std::string_view name) { return isTrueText(e.vars.getValue(name)); }

void trace(Engine& e, const std::string& text) {
  if (e.trace) e.trace->line("      <ApplyChanges>" + text + "</ApplyChanges>");
}

// The folder the installed instance's program lives in, by its uninstall entry (or the "/p=" folder).
std::string previousFolder(Engine& e) {
  const HKEY root = isTrue(e, "ALLUSERS") ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  const std::string program = uninstallEntryProgram(e, root);
  return program.empty() ? std::string() : folderOf(program);
}

// Steps 2 and 3: in maintenance the setup's package must be at hand, or the user points at it. False
// when the user gives up (LASTERROR then says why).
bool sourcesAtHand(Engine& e, bool install) {
  const std::string package = e.startup.programBaseName + ".msi";
  std::string previous = previousFolder(e);
  const std::string data = sourceFolderOf(e);
  if (e.image.cachingMode == 3 && !fileExists(previous + package) && fileExists(data + package)) previous = data;
  const bool missing = e.image.cachingMode == 3 ? !fileExists(previous + package) : !fileExists(data + package);
  if (!missing || !isTrue(e, "MAINTENANCE") || e.image.cachingMode == 2 || !install) return true;
  return askForSources(e, "Apply Changes Action");
}

// A removal through a log named by NATIVE_LOGGING (an older revision's, or one the script points at).
bool removesThroughForeignLog(const Engine& e, bool remove) {
  const std::string logging = e.vars.getValue("NATIVE_LOGGING");
  return remove && !logging.empty() && !equalsNoCase(logging, "FALSE");
}

// Step 11: the foreign log goes once its changes are undone; an older revision's log takes that
// revision's whole engine cache folder with it.
void removeForeignLog(Engine& e) {
  const std::string logging = e.vars.getValue("NATIVE_LOGGING");
  const std::string oldLog = e.vars.getValue("NATIVE_OLDLOG");
  if (oldLog.empty() || !equalsNoCase(folderOf(logging), folderOf(oldLog))) {
    deleteUndoLogFiles(logging);
    return;
  }
  const std::string folder = folderOf(oldLog);
  // The folder of an older revision's cache is never the current one: that would remove the running
  // instance's own registration files.
  if (equalsNoCase(withTrailingBackslash(folder), currentCacheFolder(e))) {
    deleteUndoLogFiles(logging);
    return;
  }
  if (!deleteTree(folder)) trace(e, folder + " could not be removed");
}

struct JobResult {
  int code = kComplete;
  std::string message;
  bool reportedFailure = false;  // a cancel or abort while ABORTONERROR is true
};

void takeJob(Engine& e, bool success, JobResult& result) {
  const NativeJobResult& job = nativeState(e).lastJob;
  result.code = success ? job.code : kCancel;
  result.message = job.message;
  if (!success) result.reportedFailure = true;
}

// Step 8: removal before the deferred install.
JobResult runNativeJobs(Engine& e, bool install, bool remove) {
  JobResult result;
  // The shortcut pin lists (unpin before, pin at registration) are not kept by this engine build.
  if (remove) takeJob(e, runUndo(e, UndoMode::Uninstall), result);
  if (install && isDeferred(e) && result.code == kComplete) takeJob(e, runDeferredActions(e), result);
  if (result.message.empty() && result.code == kCancel) result.message = kSetupCancelled;
  if (result.code == kComplete && nativeState(e).rebootNeeded.load()) result.code = kReboot;
  return result;
}

void registerNativeInstance(Engine& e) {
  registerInstance(e, [&e] {
    try {
      flushUndoLog(e, undoLogBase(e));
    } catch (const std::exception& failure) {  // the records stay pending for a later flush
      trace(e, failure.what());
    }
  });
}

// A process cannot move a folder it has as its current folder: the uninstall entry may have started the
// cached engine there.
void leaveFolder(const std::string& folder) {
  wchar_t current[MAX_PATH + 1] = {};
  const DWORD n = GetCurrentDirectoryW(MAX_PATH + 1, current);
  if (n == 0 || n > MAX_PATH) return;
  if (startsWithNoCase(withTrailingBackslash(narrow(current)), folder)) SetCurrentDirectoryW(widen(tempFolder()).c_str());
}

// Step 15: the removed product's cache (unless the script keeps it) and its registration.
void removeNativeInstance(Engine& e) {
  const bool keepCache = isTrue(e, "SAVEDATA") || isTrue(e, "MODIFY");
  if (!keepCache) {
    const bool keptLog = instanceHasNativeLog(e);
    if (keptLog) loadUndoLog(e);
    leaveFolder(currentCacheFolder(e));
    removeInstanceCache(e);
    if (keptLog && !e.vars.getValue("NATIVE_LOGGING").empty()) saveUndoLog(e);
  }
  unregisterInstance(e);
}

void applyChanges(CommandContext& c) {
  Engine& e = c.engine();
  const bool install = isTrueText(c.param(3)), remove = isTrueText(c.param(4));
  if (!isNativeEngine(e)) {
    e.vars.defineVariable("LASTERROR", kNoInstaller, "Apply Changes Action");
    if (!c.param(2).empty()) c.setResult(c.param(2), resultText(kError));
    return;
  }
  if (isDeferred(e) && !sourcesAtHand(e, install)) {
    if (!c.param(2).empty()) c.setResult(c.param(2), resultText(kCancel));
    return;
  }
  const bool foreignLog = removesThroughForeignLog(e, remove);
  const JobResult result = runNativeJobs(e, install, remove);
  trace(e, std::string(resultText(result.code)) + (result.message.empty() ? "" : ": " + result.message));
  if (!result.message.empty()) e.vars.defineVariable("LASTERROR", result.message, "Apply Changes Action");
  if (!c.param(2).empty()) c.setResult(c.param(2), resultText(result.code));
  if (result.code == kReboot) e.vars.defineVariable("REBOOTCOMPUTER", "TRUE", "Apply Changes Action");
  const bool succeeded = result.code == kComplete || result.code == kReboot;
  if (foreignLog) {
    if (succeeded) removeForeignLog(e);
  } else if (succeeded) {
    if (install || !remove) registerNativeInstance(e);
    else removeNativeInstance(e);
  }
  if (result.reportedFailure && isTrue(e, "ABORTONERROR")) endScriptRun(e);
}

void applyPatch(CommandContext& c) {
  Engine& e = c.engine();
  if (isNativeEngine(e)) {  // patches are Windows Installer packages
    c.setResult(c.param(1), resultText(kError));
    return;
  }
  e.vars.defineVariable("LASTERROR", kNoInstaller, "Apply Patch Action");
  c.setResult(c.param(1), resultText(kError));
}

void set64BitMode(CommandContext& c) {
  // Compared exactly, case included; the last "TRUE" wins.
  const std::pair<size_t, const char*> platforms[] = {{1, "Win32"}, {2, "ia64"}, {3, "x64"}};
  for (const auto& [parameter, platform] : platforms)
    if (c.param(parameter) == "TRUE") setCurrentPlatform(c.engine(), platform);
}

void transformInstanceCommand(CommandContext& c) { transformInstance(c.engine()); }

constexpr CommandEntry kApplyCommands[] = {
    {"Apply Changes", applyChanges},
    {"Apply Patch", applyPatch},
    {"Set 64 Bit Mode", set64BitMode},
    {"Transform Instance", transformInstanceCommand},
};

}  // namespace

std::span<const CommandEntry> applyCommands() { return kApplyCommands; }

}  // namespace orv
