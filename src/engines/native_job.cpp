#include "engines/native_job.h"

#include <windows.h>

#include "bootstrap/engine.h"
#include "bootstrap/trace.h"
#include "core/commatext.h"
#include "core/text.h"
#include "engines/native_kinds.h"
#include "engines/native_plan.h"
#include "engines/native_state.h"
#include "platform/file_info.h"
#include "platform/files.h"
#include "platform/redirection.h"
#include "platform/strings.h"
#include "script/worker.h"

namespace orv {
namespace {

constexpr std::string_view kErrorProcessor = "Native Error Processor";
constexpr std::string_view kOverwriteProcessor = "Native Overwrite Processor";
constexpr DWORD kAutomaticRetryPauseMs = 100;

// The inverse written for each performed kind, with its fixed weight ("Write Registry" and "Create
// Folder" add their levels).
struct InverseOf {
  std::string_view performed;
  std::string_view inverse;
  int64_t weight;
};
constexpr InverseOf kInverses[] = {
    {"Write Registry", "Delete Registry", 512},
    {"Create File", "Delete File", 1024},
    {"Register File", "Unregister File", 102400},
    {"Share File", "Unshare File", 512},
    {"Share Self Registering File", "Unshare Self Registering File", 102912},
    {"Install Assembly", "Remove Assembly", 102400},
    {"Create Service", "Delete Service", 5120},
    {"Install ODBC Driver", "Delete ODBC Driver", 10240},
    {"Set Environment", "Delete Environment", 1024},
    {"Edit INI File", "Remove INI Entry", 10240},
    {"Create ODBC DSN", "Remove ODBC DSN", 5120},
    {"Create Folder", "Delete Folder", 1024},
};

const InverseOf* inverseOf(std::string_view performed) {
  for (const InverseOf& i : kInverses)
    if (i.performed == performed) return &i;
  return nullptr;
}

std::string withoutTrailingBackslash(std::string_view path) {
  std::string p(path);
  while (!p.empty() && p.back() == '\\') p.pop_back();
  return p;
}

// The text before the last backslash, or the text itself when it has none.
std::string parentOf(const std::string& path) {
  const size_t sep = path.rfind('\\');
  return sep == std::string::npos ? path : path.substr(0, sep);
}

std::string versionText(const std::optional<FileVersion>& v) { return v ? v->text() : "<no version information>"; }
std::string dateText(const std::optional<FILETIME>& t) {
  const std::string text = t ? formatFileTime(*t) : std::string();
  return text.empty() ? "<unknown date>" : text;
}

bool earlier(const FILETIME& a, const FILETIME& b) { return CompareFileTime(&a, &b) < 0; }

}  // namespace

NativeJob::NativeJob(Engine& engine, WorkerContext* worker, JobMode mode, int64_t progressMaximum)
    : engine_(engine), state_(nativeState(engine)), worker_(worker), mode_(mode), maximum_(progressMaximum),
      platform_(state_.platform) {}

VariableStore& NativeJob::vars() const { return engine_.vars; }

RegistryView NativeJob::view() const { return registryViewOf(platform_); }

std::string NativeJob::fsPath(std::string_view path) const { return mapPathForPlatform(path, isNativePlatform(platform_)); }

bool NativeJob::fileExists(std::string_view path) const { return orv::fileExists(fsPath(path)); }

bool NativeJob::folderExists(std::string_view path) const { return orv::folderExists(fsPath(path)); }

int64_t NativeJob::progress() const { return toInt64Or(engine_.vars.getValue("NATIVE_PROGRESS"), 0); }

void NativeJob::setProgress(int64_t value) { engine_.vars.setValue("NATIVE_PROGRESS", std::to_string(value)); }

bool NativeJob::stepProgress(std::string_view text, int64_t weight) {
  if (nested) weight = 0;
  const int64_t position = progress() + weight;
  setProgress(position);
  reportProgress(engine_, text, 1, maximum_, mode_ == JobMode::Rollback ? maximum_ - position : position);
  if (mode_ == JobMode::Rollback) return true;  // a rollback always runs to its end
  return !(worker_ && worker_->stopRequested());
}

void NativeJob::trace(std::string_view line) const {
  if (!engine_.trace) return;
  NoForcedEnd writing;  // the trace's lock is shared with the UI thread
  engine_.trace->line(line);
}

void NativeJob::setRebootNeeded() { state_.rebootNeeded.store(true); }

void NativeJob::onMainThread(const std::function<void()>& fn) const { runOnMainThread(engine_, fn); }

namespace {
Answer askUser(NativeJob& job, QuestionKind kind, const std::string& caption, const std::string& text) {
  Answer answer = Answer::Cancel;
  job.onMainThread([&] { answer = nativeQuestions(job.engine()).ask(kind, caption, text); });
  return answer;
}
}  // namespace

NativeJob::ErrorDecision NativeJob::decideOnError(std::string_view message, int64_t code) {
  ErrorDecision d;
  if (code == 0) return d;
  trace("        <NATIVE ERROR>");
  trace("          < " + std::string(message) + " >");
  trace("        </NATIVE ERROR>");
  VariableStore& v = engine_.vars;
  const std::string setting = upper(v.getValue("NATIVE_ERROR"));
  auto abort = [&] {
    v.defineVariable("ZORN_IsCancelled", "TRUE", kErrorProcessor);
    aborted_ = true;
    d.abort = true;
  };
  if (setting == "RETRY") {
    Sleep(kAutomaticRetryPauseMs);
    d.retry = true;
  } else if (setting == "ABORT") {
    abort();
  } else if (setting != "IGNORE" && !isTrueText(v.getValue("SILENT"))) {
    switch (askUser(*this, QuestionKind::Error, "Error", std::string(message) + "\r\rWould you like to try again?")) {
      case Answer::YesToAll: v.defineVariable("NATIVE_ERROR", "RETRY", kErrorProcessor); [[fallthrough]];
      case Answer::Yes: d.retry = true; break;
      case Answer::NoToAll: v.defineVariable("NATIVE_ERROR", "IGNORE", kErrorProcessor); break;
      case Answer::No: break;
      case Answer::Cancel: abort(); break;
    }
  }
  return d;
}

NativeJob::OverwriteDecision NativeJob::decideOverwrite(std::string_view newFile, std::string_view existingFile) {
  OverwriteDecision d;
  const std::string existing = fsPath(existingFile), incoming = fsPath(newFile);
  if (!orv::fileExists(existing)) {
    d.overwrite = true;
    return d;
  }
  VariableStore& v = engine_.vars;
  const bool older = isTrueText(v.getValue("NATIVE_OVERWRITE_OLDER"));
  const std::string setting = upper(v.getValue("NATIVE_OVERWRITE"));
  if (setting == "NEVER") return d;
  if (setting == "ALWAYS" && older) {
    d.overwrite = true;
    return d;
  }
  const std::optional<FileVersion> oldVersion = fileVersion(existing), newVersion = fileVersion(incoming);
  const std::optional<FILETIME> oldDate = fileWriteTime(existing), newDate = fileWriteTime(incoming);
  const bool newer = (oldVersion && newVersion && *newVersion > *oldVersion) ||
                     (!oldVersion && oldDate && newDate && earlier(*oldDate, *newDate));
  if (newer && setting == "ALWAYS") {
    d.overwrite = true;
    return d;
  }
  if (!newer && !older) return d;
  const std::string text = std::string(existingFile) + "\r\rOld file version: " + versionText(oldVersion) +
                           "\rOld file date: " + dateText(oldDate) + "\r\rNew file version: " + versionText(newVersion) +
                           "\rNew file date: " + dateText(newDate) + "\r\rWould you like to overwrite this file?";
  switch (askUser(*this, QuestionKind::Overwrite, "Overwrite", text)) {
    case Answer::YesToAll: v.defineVariable("NATIVE_OVERWRITE", "ALWAYS", kOverwriteProcessor); [[fallthrough]];
    case Answer::Yes: d.overwrite = true; break;
    case Answer::NoToAll: v.defineVariable("NATIVE_OVERWRITE", "NEVER", kOverwriteProcessor); break;
    case Answer::No: break;
    case Answer::Cancel:
      v.defineVariable("ZORN_IsCancelled", "TRUE", kOverwriteProcessor);
      aborted_ = true;
      d.cancel = true;
      break;
  }
  return d;
}

StepOutcome NativeJob::retry(std::string_view subject, const std::function<DWORD()>& attempt) {
  for (;;) {
    const DWORD error = attempt();
    if (error == 0) return StepOutcome::Done;
    const ErrorDecision d = decideOnError(systemErrorText(error) + "\r\r" + std::string(subject), error);
    if (d.abort) return StepOutcome::Aborted;
    if (!d.retry) return StepOutcome::Ignored;
    // Retrying for ever ("RETRY" for all) must still end when the user cancels the job.
    if (mode_ != JobMode::Rollback && worker_ && worker_->stopRequested()) {
      aborted_ = true;
      return StepOutcome::Aborted;
    }
  }
}

bool NativeJob::recordUndo(std::string_view performedKind, std::string_view data) {
  if (!nativeLoggingOn(engine_)) return false;
  const InverseOf* inverse = inverseOf(performedKind);
  if (!inverse) return false;
  Fields fields;
  int64_t weight = inverse->weight;
  if (performedKind == "Write Registry") {
    fields = splitCommaText(data);
    fields.resize(3);
    const HKEY root = rootOfHandleText(fields[0]);
    std::string key = withoutTrailingBackslash(fields[1]);
    while (root && !key.empty() && !RegistryKey::exists(root, key, view())) {
      fields.push_back(key);
      weight += 512;
      const std::string parent = parentOf(key);
      if (parent == key) break;
      key = parent;
    }
  } else if (performedKind == "Create Folder") {
    weight = 0;
    std::string folder = withoutTrailingBackslash(data);
    while (!folder.empty() && !folderExists(folder)) {
      fields.push_back(folder);
      weight += 1024;
      const std::string parent = parentOf(folder);
      if (parent == folder) break;
      folder = parent;
    }
    if (fields.empty()) return false;
  } else {
    fields.emplace_back(data);
  }
  UndoRecord record{std::string(inverse->inverse), joinCommaText(fields), weight, platform_};
  if (!logBase_) logBase_ = undoLogBase(engine_);
  NoForcedEnd updatingSharedList;
  state_.pending.push_back(std::move(record));
  // On disk before the change is made: a process ended at any later moment leaves the record behind.
  writePendingUndo(engine_, *logBase_);
  return true;
}

void NativeJob::withdrawLastUndo() {
  if (!nativeLoggingOn(engine_)) return;
  NoForcedEnd updatingSharedList;
  withdrawLastRecord(engine_);
}

bool NativeJob::runAction(std::string_view kind, std::string_view data) {
  trace("        <" + std::string(kind) + ">");
  const Fields fields = splitCommaText(data);
  const KindProcedure procedure = kindProcedure(kind);
  bool completed = true;
  if (procedure) {
    FileSystemView view(platform_);
    completed = procedure(*this, fields);
  }
  if (completed) trace("        </" + std::string(kind) + ">");
  return completed;
}

bool NativeJob::runNested(std::string_view kind, const Fields& fields) {
  const bool outer = nested;
  nested = true;
  const bool completed = runAction(kind, joinCommaText(fields));
  nested = outer;
  return completed;
}

namespace {

struct KindEntry {
  std::string_view kind;
  KindProcedure procedure;
};
constexpr KindEntry kKinds[] = {
    {"Create Folder", createFolderKind},
    {"Delete Files", deleteFilesKind},
    {"Install Files", installFilesKind},
    {"Copy/Move Local Files", copyMoveLocalFilesKind},
    {"Write Registry", writeRegistryKind},
    {"Set Environment", setEnvironmentKind},
    {"Edit INI File", editIniFileKind},
    {"Create File Type", createFileTypeKind},
    {"Create Shortcut", createShortcutKind},
    {"Install Service", installServiceKind},
    {"Control Service", controlServiceKind},
    {"Install ODBC Driver", installOdbcDriverKind},
    {"Create ODBC DSN", createOdbcDsnKind},
    {"Install Assembly", installAssemblyKind},
};

struct InverseEntry {
  std::string_view kind;
  InverseProcedure procedure;
};
constexpr InverseEntry kInverseKinds[] = {
    {"Delete Registry", deleteRegistryInverse},
    {"Delete File", deleteFileInverse},
    {"Delete Folder", deleteFolderInverse},
    {"Unshare File", unshareFileInverse},
    {"Unshare Self Registering File", unshareSelfRegisteringFileInverse},
    {"Unregister File", unregisterFileInverse},
    {"Delete Environment", deleteEnvironmentInverse},
    {"Remove INI Entry", removeIniEntryInverse},
    {"Delete Service", deleteServiceInverse},
    {"Delete ODBC Driver", deleteOdbcDriverInverse},
    {"Remove ODBC DSN", removeOdbcDsnInverse},
    {"Remove Assembly", removeAssemblyInverse},
};

}  // namespace

KindProcedure kindProcedure(std::string_view kind) {
  for (const KindEntry& e : kKinds)
    if (e.kind == kind) return e.procedure;
  return nullptr;
}

InverseProcedure inverseProcedure(std::string_view kind) {
  for (const InverseEntry& e : kInverseKinds)
    if (e.kind == kind) return e.procedure;
  return nullptr;
}

HKEY rootOfCode(std::string_view code) {
  if (code == "0") return HKEY_CLASSES_ROOT;
  if (code == "1") return HKEY_CURRENT_USER;
  if (code == "2") return HKEY_LOCAL_MACHINE;
  if (code == "3") return HKEY_USERS;
  return nullptr;
}

std::string rootNameOf(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_USERS) return "HKEY_USERS";
  return "HKEY_UNKNOWN";
}

std::string rootNameOfCode(std::string_view code) { return rootNameOf(rootOfCode(code)); }

std::string handleTextOf(HKEY root) {
  return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(root))));
}

HKEY rootOfHandleText(std::string_view text) {
  int64_t value = 0;
  if (!parseInt64(text, value)) return nullptr;
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS})
    if (handleTextOf(root) == std::to_string(value)) return root;
  return nullptr;
}

}  // namespace orv
