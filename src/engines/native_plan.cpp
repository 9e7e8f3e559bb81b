#include "engines/native_plan.h"

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <functional>
#include <memory>

#include "bootstrap/engine.h"
#include "bootstrap/trace.h"
#include "core/commatext.h"
#include "core/text.h"
#include "engines/maintenance.h"
#include "engines/native_job.h"
#include "engines/native_kinds.h"
#include "engines/native_state.h"
#include "engines/native_undo.h"
#include "platform/files.h"
#include "platform/redirection.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "script/command.h"
#include "script/run_hooks.h"
#include "script/worker.h"

namespace orv {
namespace {

constexpr std::string_view kCancelLabel = "Cancel at Native Engine Time";
constexpr std::string_view kSpooler = "Native Spooler";
constexpr std::string_view kSourceAcquisition = "Native Engine Source Acquisition";
constexpr std::string_view kLocateSources = "Please locate your original setup sources to continue operation";
constexpr std::string_view kSourcesNotFound =
    "Original setup sources required to complete operation, sources not found";
constexpr std::string_view kIdentCacheKey = "SOFTWARE\\Tessaly\\Orvane\\Ident.Cache\\";

bool isTrueVar(const Engine& e, std::string_view name) { return isTrueText(e.vars.getValue(name)); }

void traceLine(Engine& e, std::string_view text) {
  if (e.trace) e.trace->line(text);
}

std::string beforeBar(std::string_view text) { return std::string(text.substr(0, text.find('|'))); }
std::string afterBarOr(std::string_view text, std::string_view fallback) {
  const size_t bar = text.find('|');
  return bar == std::string_view::npos ? std::string(fallback) : std::string(text.substr(bar + 1));
}

// "[NAME]" in an attribute text stands for "$NAME$".
std::string bracketsToReferences(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '[' || c == ']') c = '$';
  return out;
}

// Kinds whose data starts with the fields the handler prepared.
bool takesPreparedFields(std::string_view kind) {
  for (std::string_view k : {"Install Files", "Install Assembly", "Install ODBC Driver", "Install Service",
                             "Control Service", "Create Shortcut", "Create File Type"})
    if (k == kind) return true;
  return false;
}

bool copiesMediaFiles(std::string_view kind) {
  for (std::string_view k : {"Install Files", "Install Assembly", "Install Service", "Install ODBC Driver"})
    if (k == kind) return true;
  return false;
}

struct LineParameters {
  Engine& e;
  size_t line;  // 1-based
  std::string raw(size_t k) const { return std::string(e.index->parameterOfLine(line - 1, k)); }
  std::string expanded(size_t k) const { return e.vars.expand(raw(k)); }
  std::string path(size_t k) const { return e.vars.expandPath(raw(k)); }
};

std::string registryType(std::string_view isString, std::string_view second) {
  if (isTrueText(isString)) return "STRING";
  if (isTrueText(second)) return "INTEGER";
  return std::string(second);
}

std::string registryRootCode(const Engine& e, std::string_view code) {
  if (code == "4") return isTrueVar(e, "ALLUSERS") ? "2" : "1";
  return std::string(code);
}

std::string modulo3(std::string_view text) {
  const int64_t v = toInt64Or(text, 0);
  return std::to_string(((v % 3) + 3) % 3);
}

// The fields a kind takes from its line's parameters.
std::vector<std::string> parameterFields(Engine& e, std::string_view kind, size_t line) {
  const LineParameters p{e, line};
  if (kind == "Install Files")
    return {p.path(3), p.raw(4), p.raw(5), p.raw(6), p.raw(7), p.raw(9), p.raw(10), p.raw(11), p.raw(12)};
  if (kind == "Install Assembly") return {p.path(3), p.raw(2)};
  if (kind == "Install Service")
    return {p.path(2), p.raw(7), p.raw(8), p.raw(11), p.raw(12), p.expanded(13), p.expanded(14), p.expanded(15)};
  if (kind == "Install ODBC Driver")
    return {p.expanded(1), p.path(4), e.vars.expand(bracketsToReferences(p.raw(6)))};
  if (kind == "Control Service") return {p.path(2), modulo3(p.raw(3)), p.raw(4)};
  if (kind == "Create Shortcut")
    return {e.vars.expandPath(beforeBar(p.raw(7))), beforeBar(p.raw(8)), beforeBar(p.raw(9))};
  if (kind == "Create File Type") return {p.raw(6), p.raw(7)};
  if (kind == "Create Folder") return {p.path(1)};
  if (kind == "Create ODBC DSN")
    return {p.expanded(1), p.expanded(2), p.raw(3), e.vars.expand(bracketsToReferences(p.raw(4)))};
  if (kind == "Set Environment") return {p.expanded(1), p.expanded(2), p.raw(3), p.raw(4), p.raw(5), p.raw(6)};
  if (kind == "Edit INI File")
    return {withTrailingBackslash(p.path(1)) + p.expanded(2), p.expanded(4), p.expanded(5), p.expanded(6), p.expanded(3)};
  if (kind == "Delete Files") return {p.path(1), p.expanded(2)};
  if (kind == "Copy/Move Local Files")
    return {p.path(1), p.expanded(2), p.path(3), p.raw(5), afterBarOr(p.raw(6), "FALSE"), p.path(4)};
  if (kind == "Write Registry")
    return {boolText(p.raw(1) == "10"), registryRootCode(e, p.raw(2)), p.path(3), p.path(4), p.path(5),
            registryType(p.raw(6), p.raw(7))};
  return {};
}

int64_t fixedQueueWeight(std::string_view kind) {
  struct Weight {
    std::string_view kind;
    int64_t weight;
  };
  static constexpr Weight kWeights[] = {
      {"Control Service", 2097152}, {"Create Shortcut", 10240}, {"Create File Type", 5120},
      {"Create Folder", 1024},      {"Create ODBC DSN", 5120},  {"Set Environment", 1024},
      {"Edit INI File", 10240},     {"Delete Files", 102400},   {"Write Registry", 512},
  };
  for (const Weight& w : kWeights)
    if (w.kind == kind) return w.weight;
  return 0;
}

std::string dataFolderOf(Engine& e) {
  std::string folder = e.vars.getValue("DATADIR");
  if (folder.empty()) folder = e.startup.dataFolder;
  return folder.empty() ? folder : withTrailingBackslash(folder);
}

}  // namespace

bool askForSources(Engine& e, std::string_view source) {
  const std::string package = e.startup.programBaseName + ".msi";
  if (!isTrueVar(e, "SILENT")) {
    for (;;) {
      const std::string chosen = nativeQuestions(e).locateSources(std::string(kLocateSources));
      if (chosen.empty()) break;
      const std::string folder = withTrailingBackslash(chosen);
      for (const std::string& candidate : {folder, folder + "data\\"}) {
        if (fileExists(candidate + package)) {
          nativeState(e).sourceFolder = candidate;
          return true;
        }
      }
    }
  }
  e.vars.defineVariable("LASTERROR", kSourcesNotFound, source);
  return false;
}

namespace {

// Step 5 of running an action: the setup's package must be reachable, or in maintenance the user is
// asked where the original sources are.
bool acquireSources(Engine& e) {
  const std::string package = e.startup.programBaseName + ".msi";
  if (fileExists(sourceFolderOf(e) + package)) return true;
  if (!isTrueVar(e, "MAINTENANCE") || e.image.cachingMode == 2) return true;
  return askForSources(e, kSourceAcquisition);
}

// A job's outcome as its thread leaves it; the code is read only after the thread has ended or been
// ended (an atomic), the message only after a normal end.
struct JobOutcome {
  std::atomic<int> code{0};
  std::string message;
};

const char* modeName(JobMode mode) {
  switch (mode) {
    case JobMode::Action: return "INSTALL";
    case JobMode::DelayedInstall: return "DELAYEDINSTALL";
    case JobMode::Uninstall: return "UNINSTALL";
    case JobMode::Rollback: return "ROLLBACK";
  }
  return "";
}

// StartNativeJob: runs `body` on the native worker and waits; the job's result goes to lastJob. Returns
// whether the job reports success (it fails only through a cancel or abort while ABORTONERROR holds).
bool startNativeJob(Engine& e, JobMode mode, int64_t maximum, const std::function<int(NativeJob&)>& body) {
  NativeEngineState& st = nativeState(e);
  const bool clearedCancel = mode == JobMode::Rollback && isTrueVar(e, "ZORN_IsCancelled");
  if (clearedCancel) e.vars.defineVariable("ZORN_IsCancelled", "FALSE", kSpooler);
  auto outcome = std::make_shared<JobOutcome>();
  WorkerOutcome how = WorkerOutcome::Completed;
  try {
    how = runWorker(e, WorkerKind::NativeEngine, [&e, mode, maximum, body, outcome](WorkerContext& worker) {
      try {
        NativeJob job(e, &worker, mode, maximum);
        outcome->code.store(body(job));
      } catch (const std::exception& failure) {
        NoForcedEnd handingOver;
        outcome->message = failure.what();
        outcome->code.store(-1);
      } catch (...) {
        NoForcedEnd handingOver;
        outcome->message = "The native installation engine failed.";
        outcome->code.store(-1);
      }
    });
    st.lastJob.code = outcome->code.load();
    st.lastJob.message = how == WorkerOutcome::Completed ? outcome->message : std::string();
    if (how == WorkerOutcome::Completed) {  // the log's files are free between jobs
      st.journal.reset();
      st.journalFailedBase.clear();
    }
  } catch (const std::exception& failure) {  // the worker could not be started
    st.lastJob = {-1, failure.what()};
  }
  if (mode == JobMode::Rollback) st.lastJob.code = 1;
  bool success = true;
  if (how == WorkerOutcome::Cancelled) {
    if (mode == JobMode::Rollback) {  // no "Setup cancelled" message for a rollback
      if (isTrueVar(e, "ABORTONERROR")) success = false;
      else e.vars.defineVariable("ABORTEDONERROR", "TRUE", kCancelLabel);
    } else {
      success = !finishCancelledStep(e, kCancelLabel);
    }
  }
  if (clearedCancel) e.vars.defineVariable("ZORN_IsCancelled", "TRUE", kSpooler);
  return success;
}

int runOneAction(NativeJob& job, const std::string& kind, const std::string& data) {
  job.trace("      <NATIVE INSTALL>");
  const bool completed = job.runAction(kind, data);
  job.trace("      </NATIVE INSTALL>");
  return completed ? 1 : 0;
}

int runQueue(NativeJob& job, const std::vector<QueuedAction>& queue) {
  job.deferredRun = true;
  job.trace("      <NATIVE DELAYEDINSTALL>");
  for (const QueuedAction& action : queue) {
    job.setPlatform(action.platform);
    job.byteProgress = false;
    if (!job.runAction(action.kind, action.data)) return 0;
  }
  job.trace("      </NATIVE DELAYEDINSTALL>");
  return 1;
}

// The folder levels of `folder` that do not exist, deepest first.
std::vector<std::string> missingLevels(const std::string& folder) {
  std::vector<std::string> levels;
  std::string f = folder;
  while (!f.empty() && f.back() == '\\') f.pop_back();
  while (!f.empty() && !folderExists(f)) {
    levels.push_back(f);
    const size_t sep = f.rfind('\\');
    if (sep == std::string::npos) break;
    f = f.substr(0, sep);
  }
  return levels;
}

void removeCreatedFolders(const std::string& base, const std::string& topmost) {
  std::string f = folderOf(base);
  while (!f.empty() && f.back() == '\\') f.pop_back();
  while (!f.empty()) {
    RemoveDirectoryW(widen(f).c_str());
    if (equalsNoCase(f, topmost)) break;
    const size_t sep = f.rfind('\\');
    if (sep == std::string::npos) break;
    f = f.substr(0, sep);
  }
}

std::string identCacheFolder(Engine& e, HKEY root) {
  const auto key = RegistryKey::open(root, std::string(kIdentCacheKey) + e.vars.getValue("PRODUCTCODE"));
  if (!key) return {};
  return key->getString("").value_or("");
}

std::string lastElement(std::string_view folder) {
  std::string f(folder);
  while (!f.empty() && f.back() == '\\') f.pop_back();
  return fileNameOf(f);
}

}  // namespace

NativeEngineState& nativeState(Engine& engine) {
  if (!engine.native) engine.native = std::make_shared<NativeEngineState>();
  return *engine.native;
}

NativeQuestions& nativeQuestions(Engine& engine) {
  NativeEngineState& st = nativeState(engine);
  if (!st.questions) st.questions = dialogQuestions(engine);
  return *st.questions;
}

AssemblyCache& assemblyCache(Engine& engine) {
  NativeEngineState& st = nativeState(engine);
  if (!st.assemblyCache) st.assemblyCache = systemAssemblyCache(engine);
  return *st.assemblyCache;
}

bool isNativeEngine(const Engine& engine) { return equalsNoCase(engine.vars.getValue("NATIVE_ENGINE"), "TRUE"); }
bool isDeferred(const Engine& engine) { return equalsNoCase(engine.vars.getValue("DELAYUNTIL_APPLYCHANGES"), "TRUE"); }
bool rollbackEnabled(const Engine& engine) { return !equalsNoCase(engine.vars.getValue("NATIVE_ROLLBACK"), "FALSE"); }
bool nativeLoggingOn(const Engine& engine) { return !equalsNoCase(engine.vars.getValue("NATIVE_LOGGING"), "FALSE"); }

const std::string& currentPlatform(Engine& engine) { return nativeState(engine).platform; }
void setCurrentPlatform(Engine& engine, std::string platform) { nativeState(engine).platform = std::move(platform); }

std::string sourceFolderOf(Engine& engine) {
  const NativeEngineState& st = nativeState(engine);
  return st.sourceFolder.empty() ? dataFolderOf(engine) : st.sourceFolder;
}

std::string commandHeaderOf(const Engine& engine, size_t line) {
  const std::string_view header = engine.index->headerOfLine(line - 1);
  if (header.empty()) throw ScriptError("Unable to obtain command headers. Please rebuild your project.");
  return std::string(header);
}

std::vector<std::string> actionData(Engine& engine, std::string_view kind, size_t line) {
  std::vector<std::string> data;
  if (takesPreparedFields(kind)) data = nativeState(engine).prepared;
  for (std::string& field : parameterFields(engine, kind, line)) data.push_back(std::move(field));
  return data;
}

int64_t queueWeight(Engine& engine, std::string_view kind, const std::vector<std::string>& data) {
  if (kind != "Copy/Move Local Files") return fixedQueueWeight(kind);
  if (data.size() < 5) return 0;
  const std::string& platform = currentPlatform(engine);
  FileSystemView view(platform);
  int64_t total = 0;
  for (const MatchedFile& f : matchingFiles(view.map(withTrailingBackslash(data[0])), data[1], isTrueText(data[4])))
    total += f.size;
  return total;
}

bool runOrQueueNativeAction(Engine& engine, std::string_view kind, size_t line) {
  NativeEngineState& st = nativeState(engine);
  const bool deferred = isDeferred(engine);
  if (!deferred && copiesMediaFiles(kind) && !acquireSources(engine)) return false;
  const std::vector<std::string> fields = actionData(engine, kind, line);
  const std::string data = joinCommaText(fields);
  if (deferred) {
    st.queue.push_back({std::string(kind), line, data, st.platform});
    st.queueWeight += queueWeight(engine, kind, fields);
    return true;
  }
  bool success = startNativeJob(engine, JobMode::Action, engine.image.totalWeight,
                                [kindText = std::string(kind), data](NativeJob& job) { return runOneAction(job, kindText, data); });
  // An action that failed with an error of the engine itself is a failure too, not a success: the
  // script learns why through LASTERROR and its changes are rolled back.
  if (st.lastJob.code == -1) {
    engine.vars.defineVariable("LASTERROR", st.lastJob.message, "Native Engine");
    success = false;
  }
  if (!success && rollbackEnabled(engine)) runUndo(engine, UndoMode::Rollback);
  return success;
}

bool runDeferredActions(Engine& engine) {
  NativeEngineState& st = nativeState(engine);
  const bool success = startNativeJob(engine, JobMode::DelayedInstall, st.queueWeight,
                                      [queue = st.queue](NativeJob& job) { return runQueue(job, queue); });
  const NativeJobResult result = st.lastJob;
  if ((!success || result.code != 1) && rollbackEnabled(engine)) {
    runUndo(engine, UndoMode::Rollback);
    st.lastJob = result;  // "Apply Changes" reports the batch, not its rollback
  }
  return success;
}

bool runUndo(Engine& engine, UndoMode mode) {
  NativeEngineState& st = nativeState(engine);
  const std::string base = undoLogBase(engine);
  // Changes are undone even when their records cannot reach the log: those are replayed from memory.
  std::string createdFolder;
  std::vector<UndoRecord> unflushed;
  try {
    createdFolder = flushUndoLog(engine, base);
  } catch (const std::exception& failure) {
    traceLine(engine, std::string("      <NATIVE LOG>") + failure.what() + "</NATIVE LOG>");
    unflushed.swap(st.pending);
  }
  UndoLogContents log = readUndoLog(base, st.platform);
  if (!log.problem.empty()) traceLine(engine, "      <NATIVE LOG>" + log.problem + "</NATIVE LOG>");
  // A rollback undoes this run only: a failed repair must not take the installed product with it.
  size_t earlierRuns = 0;
  if (mode == UndoMode::Rollback) {
    const auto noted = st.recordsBeforeRun.find(upper(base));
    earlierRuns = std::min(log.records.size(), noted == st.recordsBeforeRun.end() ? log.records.size() : noted->second);
  }
  const std::vector<UndoRecord> kept(log.records.begin(), log.records.begin() + static_cast<std::ptrdiff_t>(earlierRuns));
  log.records.erase(log.records.begin(), log.records.begin() + static_cast<std::ptrdiff_t>(earlierRuns));
  log.records.insert(log.records.end(), unflushed.begin(), unflushed.end());
  int64_t maximum = 0;
  for (const UndoRecord& r : log.records) maximum += r.weight;
  const std::string savedProgress = engine.vars.getValue("NATIVE_PROGRESS");
  engine.vars.setValue("NATIVE_PROGRESS", "0");
  const JobMode jobMode = mode == UndoMode::Rollback ? JobMode::Rollback : JobMode::Uninstall;
  // The job owns what it reads: a worker left running after a forced end must not outlive its inputs.
  auto records = std::make_shared<const std::vector<UndoRecord>>(log.records);
  auto replayedFrom = std::make_shared<std::atomic<size_t>>(log.records.size());
  const bool success = startNativeJob(engine, jobMode, maximum, [records, jobMode, replayedFrom](NativeJob& job) {
    const std::string tag = modeName(jobMode);
    job.trace("      <NATIVE " + tag + ">");
    const bool completed = replayUndo(job, *records, jobMode == JobMode::Uninstall, *replayedFrom);
    job.trace("      </NATIVE " + tag + ">");
    return completed ? 1 : 0;
  });
  engine.vars.setValue("NATIVE_PROGRESS", savedProgress);
  if (!createdFolder.empty() && kept.empty()) {
    deleteUndoLogFiles(base);
    removeCreatedFolders(base, createdFolder);
  } else if (replayedFrom->load() < log.records.size()) {
    // Replayed records leave the log, so no change is ever undone twice (a shared file's count would
    // otherwise drop again at the next uninstall).
    std::vector<UndoRecord> rest = kept;
    rest.insert(rest.end(), log.records.begin(), log.records.begin() + static_cast<std::ptrdiff_t>(replayedFrom->load()));
    try {
      writeUndoLog(base, rest);
    } catch (const std::exception& failure) {
      traceLine(engine, std::string("      <NATIVE LOG>") + failure.what() + "</NATIVE LOG>");
    }
  }
  return success;
}

void rollbackNativeChanges(Engine& engine) {
  if (isNativeEngine(engine) && rollbackEnabled(engine)) runUndo(engine, UndoMode::Rollback);
}

namespace {
// Creates the log's folder when missing; the topmost level it made, or empty.
std::string createLogFolder(const std::string& base) {
  const std::string folder = folderOf(base);
  if (folder.empty() || folderExists(folder)) return {};
  const std::vector<std::string> levels = missingLevels(folder);
  if (!createFolders(folder)) throw ScriptError("The undo log folder " + folder + " cannot be created.");
  return levels.empty() ? std::string() : levels.back();
}
}  // namespace

namespace {
// Before this run's first record reaches the log at `base`: remember where the run's records begin.
void noteRunStart(NativeEngineState& st, const std::string& base) {
  const std::string key = upper(base);
  if (st.recordsBeforeRun.count(key)) return;
  st.recordsBeforeRun[key] = anyUndoLogFileExists(base) ? readUndoLog(base, st.platform).records.size() : 0;
}
}  // namespace

void writePendingUndo(Engine& engine, const std::string& base) {
  NativeEngineState& st = nativeState(engine);
  if (st.pending.empty() || (!st.journalFailedBase.empty() && st.journalFailedBase == base)) return;
  try {
    if (!st.journal || st.journal->base() != base) {
      st.journal.reset();
      noteRunStart(st, base);
      const std::string created = createLogFolder(base);
      if (!created.empty() && st.journalCreated.folder.empty()) st.journalCreated = {base, created};
      st.journal = std::make_unique<UndoJournal>(base);
    }
    st.journal->append(st.pending);
    st.pending.clear();
  } catch (const std::exception& failure) {
    st.journal.reset();
    st.journalFailedBase = base;
    traceLine(engine, std::string("      <NATIVE LOG>") + failure.what() + "</NATIVE LOG>");
  }
}

void withdrawLastRecord(Engine& engine) {
  NativeEngineState& st = nativeState(engine);
  if (!st.pending.empty()) st.pending.pop_back();
  else if (st.journal) st.journal->withdrawLast();
}

std::string flushUndoLog(Engine& engine, const std::string& base) {
  NativeEngineState& st = nativeState(engine);
  st.journal.reset();  // whoever comes next may read or replace the files
  st.journalFailedBase.clear();
  std::string created;
  if (equalsNoCase(st.journalCreated.base, base)) created = st.journalCreated.folder;
  st.journalCreated = {};
  const std::string folder = folderOf(base);
  if (!folder.empty() && !folderExists(folder)) {
    if (st.pending.empty()) return created;
    created = createLogFolder(base);
  }
  if (st.pending.empty()) return created;
  try {
    noteRunStart(st, base);
    appendUndoLog(base, st.pending);
  } catch (const std::exception& failure) {
    throw ScriptError(failure.what());
  }
  st.pending.clear();
  return created;
}

bool undoLogExists(const std::string& base, bool create) {
  if (folderOf(base).empty()) return false;
  if (undoLogFilesExist(base)) return true;
  if (!create || anyUndoLogFileExists(base)) return false;
  return createEmptyUndoLog(base);
}

std::string undoLogBase(Engine& engine) {
  const std::string logging = engine.vars.getValue("NATIVE_LOGGING");
  if (!logging.empty() && !equalsNoCase(logging, "FALSE") && folderExists(folderOf(logging)) &&
      undoLogFilesExist(logging))
    return logging;
  return instanceCacheRoot(engine, isTrueVar(engine, "ALLUSERS")) + engine.vars.getValue("REVISIONCODE") + "\\" +
         engine.vars.getValue("PRODUCTCODE");
}

bool instanceHasNativeLog(Engine& engine) {
  if (!undoLogFilesExist(undoLogBase(engine))) return false;
  std::string folder = identCacheFolder(engine, HKEY_LOCAL_MACHINE);
  if (folder.empty() || !folderExists(folder)) folder = identCacheFolder(engine, HKEY_CURRENT_USER);
  return !folder.empty() && equalsNoCase(lastElement(folder), engine.vars.getValue("REVISIONCODE"));
}

void loadUndoLog(Engine& engine) {
  NativeEngineState& st = nativeState(engine);
  st.journal.reset();
  const std::string base = undoLogBase(engine);
  st.keptLog = readUndoLog(base, st.platform).records;
  st.keptLogBase = base;
}

void saveUndoLog(Engine& engine) {
  NativeEngineState& st = nativeState(engine);
  if (!st.keptLogBase) return;
  const std::string base = *st.keptLogBase;
  st.journal.reset();
  createFolders(folderOf(base));
  try {
    writeUndoLog(base, st.keptLog);
  } catch (const std::exception& failure) {
    traceLine(engine, std::string("      <NATIVE LOG>") + failure.what() + "</NATIVE LOG>");
  }
  st.keptLog.clear();
  st.keptLogBase.reset();
}

// "Set Variable" gives NATIVE_LOGGING a new value: pending records go to the log in force until now.
std::string nativeLoggingChanging(Engine& engine, std::string_view value) {
  if (equalsNoCase(value, "FALSE")) return std::string(value);
  if (value.empty()) {
    flushUndoLog(engine, undoLogBase(engine));
    return {};
  }
  if (!undoLogExists(std::string(value), true)) return {};
  flushUndoLog(engine, undoLogBase(engine));
  return std::string(value);
}

}  // namespace orv
