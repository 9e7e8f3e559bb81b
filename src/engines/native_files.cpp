// File and folder kinds: "Create Folder", "Delete Files", "Install Files", "Copy/Move Local Files", the
// shared placement procedure with its overwrite decision and files in use, self-registration, shared
// file counts, and their inverses.
#include <windows.h>
#include <objbase.h>

#include "bootstrap/engine.h"
#include "core/text.h"
#include "engines/maintenance.h"
#include "engines/native_kinds.h"
#include "engines/native_plan.h"
#include "engines/native_security.h"
#include "engines/native_state.h"
#include "platform/com.h"
#include "platform/file_info.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/libraries.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace orv {
namespace {

constexpr std::string_view kSharedDllsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
constexpr std::string_view kRunOnceKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

std::string sharedDllsSubject(std::string_view path) {
  return "HKEY_LOCAL_MACHINE\\" + std::string(kSharedDllsKey) + "\\" + std::string(path);
}

DWORD lastErrorOr(DWORD fallback) {
  const DWORD e = GetLastError();
  return e ? e : fallback;
}

bool isExe(std::string_view path) { return endsWithNoCase(path, ".exe"); }

// ---- copying with progress ----

struct CopyProgress {
  NativeJob* job;
  int64_t lastTransferred = 0;
  bool stopped = false;
};

DWORD CALLBACK onCopyProgress(LARGE_INTEGER, LARGE_INTEGER transferred, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD,
                              HANDLE, HANDLE, LPVOID data) {
  auto* p = static_cast<CopyProgress*>(data);
  try {
    const int64_t delta = transferred.QuadPart - p->lastTransferred;
    p->lastTransferred = transferred.QuadPart;
    const bool counts = p->job->deferredRun || p->job->byteProgress;
    if (!p->job->stepProgress("$IGNORE$", counts ? delta : 0)) {
      p->stopped = true;
      return PROGRESS_CANCEL;
    }
    return PROGRESS_CONTINUE;
  } catch (...) {  // nothing may cross the system's callback
    p->stopped = true;
    return PROGRESS_CANCEL;
  }
}

// The copy (or move) itself: the state's replacement routine when one is set, else the system's calls;
// without a progress routine, the plain calls.
BOOL copyThrough(NativeJob& job, const std::wstring& from, const std::wstring& to, bool move,
                 LPPROGRESS_ROUTINE progress, void* data) {
  if (const NativeEngineState::CopyRoutine& copier = job.state().copyWithProgress)
    return copier(from, to, move, progress, data);
  if (progress)
    return move ? MoveFileWithProgressW(from.c_str(), to.c_str(), progress, data,
                                        MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING)
                : CopyFileExW(from.c_str(), to.c_str(), progress, data, nullptr, COPY_FILE_RESTARTABLE);
  return move ? MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING)
              : CopyFileW(from.c_str(), to.c_str(), FALSE);
}

bool present(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// What a failed or stopped copy left at a target that was not there before is not the file (a
// restartable copy keeps its partial target; a full disk leaves a torn one): it goes, unless a move
// already took its source away.
void discardPartialTarget(const std::wstring& from, const std::wstring& to, bool move) {
  if (move && !present(from)) return;
  SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(to.c_str());
}

// A fresh copy carries its source's attributes: those that change how the file is treated (read-only
// from a CD, hidden, system ...) are cleared. The archive mark every new file gets may stay, so a copy
// that carries nothing else is left alone (clearing would open the file once more).
constexpr DWORD kNotNormal = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                             FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

void makeNormal(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & kNotNormal)) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// One attempt at copying (or moving) a file with byte progress, then without; 0 or a system error.
// `stopped` is set when the job was asked to stop during the copy. `targetAbsent`: the caller has just
// seen that no file is at the target.
DWORD copyOnce(NativeJob& job, const std::string& source, const std::string& target, bool move, bool targetAbsent,
               bool& stopped) {
  const std::wstring from = widen(job.fsPath(source)), to = widen(job.fsPath(target));
  const std::string saved = job.vars().getValue("NATIVE_PROGRESS");
  job.vars().setValue("NATIVE_PROGRESS_BACKUP", saved);
  CopyProgress progress{&job};
  if (!job.stepProgress(target, 0)) {
    stopped = true;
    return ERROR_CANCELLED;
  }
  // Only a file in use that could not be cleared is still there; a failed copy leaves it as it was.
  const bool targetWasThere = !targetAbsent && present(to);
  if (targetWasThere) SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (copyThrough(job, from, to, move, onCopyProgress, &progress)) {
    if (!move) makeNormal(to);
    return 0;
  }
  if (progress.stopped) {
    if (!targetWasThere) discardPartialTarget(from, to, move);
    stopped = true;
    return ERROR_CANCELLED;
  }
  // The plain call, with the whole file as one step.
  job.vars().setValue("NATIVE_PROGRESS", job.vars().getValue("NATIVE_PROGRESS_BACKUP"));
  const int64_t size = fileSize(job.fsPath(source));
  if ((job.deferredRun || job.byteProgress) && !job.stepProgress(target, size > 0 ? size : 0)) {
    if (!targetWasThere) discardPartialTarget(from, to, move);
    stopped = true;
    return ERROR_CANCELLED;
  }
  if (copyThrough(job, from, to, move, nullptr, nullptr)) {
    if (!move) makeNormal(to);
    return 0;
  }
  const DWORD error = lastErrorOr(ERROR_GEN_FAILURE);
  if (targetWasThere) return present(to) ? 0 : error;  // the file in use stays and counts as placed
  discardPartialTarget(from, to, move);
  return error;
}

// Copies or moves through the retry loop; Done, Ignored or Aborted (a stop request aborts).
StepOutcome copyWithRetry(NativeJob& job, const std::string& source, const std::string& target, bool move,
                          const std::string& subject, bool targetAbsent = false) {
  bool stopped = false;
  const StepOutcome outcome = job.retry(subject, [&]() -> DWORD {
    // A failed attempt takes away what it left, so the target stays absent for the next one.
    const DWORD error = copyOnce(job, source, target, move, targetAbsent, stopped);
    return stopped ? 0 : error;  // a stop is not a question for the user
  });
  return stopped ? StepOutcome::Aborted : outcome;
}

// ---- placeholders for files in use ----

bool sameVolume(const std::string& a, const std::string& b) {
  wchar_t va[MAX_PATH] = {}, vb[MAX_PATH] = {};
  return GetVolumePathNameW(widen(a).c_str(), va, MAX_PATH) && GetVolumePathNameW(widen(b).c_str(), vb, MAX_PATH) &&
         _wcsicmp(va, vb) == 0;
}

// "move." + N in the instance's engine cache folder (beside the destination when the cache is missing or
// on another volume, where a replacement at the next start could not move it).
std::string makePlaceholder(NativeJob& job, const std::string& destination) {
  Engine& e = job.engine();
  std::string folder = instanceCacheRoot(e, isTrueText(e.vars.getValue("ALLUSERS"))) + e.vars.getValue("REVISIONCODE") + "\\";
  if (!createFolders(folder) || !sameVolume(folder, job.fsPath(destination))) folder = folderOf(destination);
  for (int n = 0;; ++n) {
    const std::string candidate = folder + "move." + std::to_string(n);
    if (job.fileExists(candidate) || job.folderExists(candidate)) continue;
    UniqueHandle f = ownFileHandle(CreateFileW(widen(job.fsPath(candidate)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (f || n > 100000) return candidate;
  }
}

// ---- shared files and registration ----

int64_t sharedCount(NativeJob& job, const std::string& path, bool& readable) {
  readable = false;
  const auto key = RegistryKey::open(HKEY_LOCAL_MACHINE, std::string(kSharedDllsKey), KEY_READ, job.view());
  if (!key) return 0;
  const std::optional<uint32_t> count = key->getDword(path);
  readable = count.has_value();
  return count.value_or(0);
}

DWORD writeSharedCount(NativeJob& job, const std::string& path, uint32_t count) {
  LONG error = 0;
  auto key = RegistryKey::tryCreate(HKEY_LOCAL_MACHINE, std::string(kSharedDllsKey), job.view(), error);
  if (!key) return static_cast<DWORD>(error);
  return static_cast<DWORD>(key->writeDword(path, count));
}

std::string systemFolderFor(ImageMachine machine) {
  wchar_t buf[MAX_PATH] = {};
  UINT n = 0;
#ifdef _WIN64
  if (machine == ImageMachine::X86) n = GetSystemWow64DirectoryW(buf, MAX_PATH);
#else
  if (machine == ImageMachine::X64) {  // the native system folder as a 32-bit program reaches it
    n = GetWindowsDirectoryW(buf, MAX_PATH);
    return withTrailingBackslash(narrow(std::wstring_view(buf, n))) + "Sysnative\\";
  }
#endif
  if (n == 0) n = GetSystemDirectoryW(buf, MAX_PATH);
  return withTrailingBackslash(narrow(std::wstring_view(buf, n < MAX_PATH ? n : 0)));
}

bool runHiddenAndWait(const std::string& commandLine) {
  std::wstring line = widen(commandLine);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  return code == 0;
}

#ifdef _WIN64
constexpr ImageMachine kOwnMachine = ImageMachine::X64;
#else
constexpr ImageMachine kOwnMachine = ImageMachine::X86;
#endif

// Calls the library's own DllRegisterServer or DllUnregisterServer.
bool callRegistrationEntry(const std::string& fsPath, bool unregister) {
  ComScope com;
  bool ok = false;
  if (HMODULE library = loadLibraryAt(widen(fsPath))) {
    UniqueModule owned(library);
    using EntryFn = HRESULT(STDAPICALLTYPE*)();
    const auto entry = reinterpret_cast<EntryFn>(reinterpret_cast<void*>(
        GetProcAddress(library, unregister ? "DllUnregisterServer" : "DllRegisterServer")));
    ok = entry && SUCCEEDED(entry());
  }
  return ok;
}

std::string regsvr32For(const std::string& fsPath) { return systemFolderFor(imageMachine(fsPath)) + "regsvr32.exe"; }

}  // namespace

// ---- shared procedures ----

std::vector<MatchedFile> matchingFiles(const std::string& folder, const std::string& mask, bool recursive) {
  std::vector<MatchedFile> found;
  const std::string base = withTrailingBackslash(folder);
  WIN32_FIND_DATAW fd;
  if (recursive) {
    UniqueFind subfolders(FindFirstFileW(widen(base + "*").c_str(), &fd));
    if (subfolders.get() != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = fd.cFileName;
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name == L"." || name == L"..") continue;
        const std::string sub = narrow(name) + "\\";
        for (MatchedFile& f : matchingFiles(base + sub, mask, true)) {
          f.relativeFolder = sub + f.relativeFolder;
          found.push_back(std::move(f));
        }
      } while (FindNextFileW(subfolders.get(), &fd));
    }
  }
  UniqueFind files(FindFirstFileW(widen(base + mask).c_str(), &fd));
  if (files.get() != INVALID_HANDLE_VALUE) {
    do {
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      found.push_back({"", narrow(fd.cFileName), (int64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow});
    } while (FindNextFileW(files.get(), &fd));
  }
  return found;
}

std::vector<std::pair<std::string, std::string>> headerFileGroup(NativeJob& job, std::string_view header) {
  return job.engine().index->headerFiles(header);
}

bool ensureFolder(NativeJob& job, const std::string& folder) {
  if (folder.empty() || job.folderExists(folder)) return true;
  return job.runNested("Create Folder", {folder});
}

bool scheduleReplace(NativeJob& job, const std::string& source, const std::string& target) {
  return MoveFileExW(widen(job.fsPath(source)).c_str(), widen(job.fsPath(target)).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool scheduleDelete(NativeJob& job, const std::string& path) {
  return MoveFileExW(widen(job.fsPath(path)).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

void registerAtNextStart(NativeJob& job, const std::string& program, const std::string& file) {
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) return;
  char digits[16];
  snprintf(digits, sizeof digits, "%08lX", static_cast<unsigned long>(guid.Data1));
  const HKEY root = isTrueText(job.vars().getValue("ALLUSERS")) ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  const std::string command =
      program.empty() ? "\"" + file + "\" /regserver" : program + " \"" + file + "\" /s";
  LONG error = 0;
  if (auto key = RegistryKey::tryCreate(root, std::string(kRunOnceKey), job.view(), error))
    key->writeString(digits, command);
}

LockedTarget clearLockedTarget(NativeJob& job, const std::string& path, bool renameAllowed) {
  LockedTarget result;
  const std::string fs = job.fsPath(path);
  if (!orv::fileExists(fs)) return result;
  SecurityHandle security = takeOverFileSecurity(job, path, false);
  const std::wstring w = widen(fs);
  // A read-only file is not in use: clear its attributes before the exclusive open tells them apart.
  const DWORD attributes = GetFileAttributesW(w.c_str());
  SetFileAttributesW(w.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (UniqueHandle open = ownFileHandle(
          CreateFileW(w.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))) {
    open.reset();
    DeleteFileW(w.c_str());
  }
  if (!orv::fileExists(fs)) {
    result.security = std::move(security);
    return result;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(w.c_str(), attributes);
  restoreSecurity(job, security);
  result.locked = true;
  if (!renameAllowed) return result;
  for (int n = 0; n < 100000; ++n) {
    const std::string renamed = path + "." + std::to_string(n);
    const std::string fsRenamed = job.fsPath(renamed);
    if (orv::fileExists(fsRenamed) || orv::folderExists(fsRenamed)) continue;
    if (!MoveFileW(w.c_str(), widen(fsRenamed).c_str())) break;
    scheduleDelete(job, renamed);
    result.locked = false;
    result.renamed = true;
    break;
  }
  return result;
}

Placement placeFile(NativeJob& job, const std::string& source, const std::string& destination,
                    const PlaceOptions& options, bool* replacedAtNextStart) {
  if (!options.folderReady && !ensureFolder(job, folderOf(destination))) return Placement::Failed;
  if (!options.destinationAbsent) {
    const NativeJob::OverwriteDecision decision = job.decideOverwrite(source, destination);
    if (decision.cancel) return Placement::Failed;
    if (!decision.overwrite) return Placement::Skipped;
  }
  std::string target = destination;
  LockedTarget lock = options.destinationAbsent ? LockedTarget{} : clearLockedTarget(job, destination, true);
  if (lock.locked) {
    // In use and not renamable: copy beside it and let the next start put it in place.
    const std::string placeholder = makePlaceholder(job, destination);
    if (job.retry(destination, [&]() -> DWORD {
          return scheduleReplace(job, placeholder, destination) ? 0 : lastErrorOr(ERROR_GEN_FAILURE);
        }) != StepOutcome::Done) {
      DeleteFileW(widen(job.fsPath(placeholder)).c_str());
      return job.aborted() ? Placement::Failed : Placement::Skipped;
    }
    DeleteFileW(widen(job.fsPath(placeholder)).c_str());
    target = placeholder;
    job.setRebootNeeded();
    if (replacedAtNextStart) *replacedAtNextStart = true;
  }
  const bool recorded = options.recordCreateFile && job.recordUndo("Create File", destination);
  const StepOutcome outcome = copyWithRetry(job, source, target, false, target, options.destinationAbsent);
  if (outcome != StepOutcome::Done) {
    if (recorded) job.withdrawLastUndo();
    return outcome == StepOutcome::Aborted ? Placement::Failed : Placement::Skipped;
  }
  restoreSecurity(job, lock.security, target);
  return Placement::Placed;
}

void registerFile(NativeJob& job, const std::string& path, bool unregister) {
  const std::string fs = job.fsPath(path);
  if (isExe(path)) {
    runHiddenAndWait("\"" + fs + "\" " + (unregister ? "/unregserver" : "/regserver"));
    return;
  }
  if (imageMachine(fs) == kOwnMachine && callRegistrationEntry(fs, unregister)) return;
  // A library of the other bitness (or one that refuses to load here) goes to that bitness's regsvr32.
  runHiddenAndWait("\"" + regsvr32For(fs) + "\" \"" + fs + "\" " + (unregister ? "/u /s" : "/s"));
}

void deleteFileForUndo(NativeJob& job, const std::string& path) {
  SecurityHandle security = takeOverFileSecurity(job, path, false);
  const std::wstring w = widen(job.fsPath(path));
  // Most files go at the first try; only one the attributes protect needs them cleared (which costs an
  // open of the file).
  if (DeleteFileW(w.c_str())) return;
  SetFileAttributesW(w.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(w.c_str()) || !job.fileExists(path)) return;
  const LockedTarget lock = clearLockedTarget(job, path, true);
  if (!lock.locked) return;
  job.retry(path, [&]() -> DWORD { return scheduleDelete(job, path) ? 0 : lastErrorOr(ERROR_GEN_FAILURE); });
  job.setRebootNeeded();
}

// ---- kinds ----

bool createFolderKind(NativeJob& job, const Fields& f) {
  const std::string folder = f.empty() ? std::string() : f[0];
  if (!job.stepProgress(folder, 1024)) return false;
  const bool recorded = job.recordUndo("Create Folder", folder);
  const std::string fs = job.fsPath(folder);
  const StepOutcome outcome = job.retry(folder, [&]() -> DWORD {
    if (createFolders(fs) || orv::folderExists(fs)) return 0;
    return lastErrorOr(ERROR_PATH_NOT_FOUND);
  });
  if (outcome == StepOutcome::Done) {
    job.trace("        < " + folder + " >");
    return true;
  }
  if (recorded) job.withdrawLastUndo();
  return outcome == StepOutcome::Ignored;
}

bool deleteFilesKind(NativeJob& job, const Fields& f) {
  if (f.size() < 2) return true;
  const std::string folder = withTrailingBackslash(f[0]), mask = f[1];
  if (!job.stepProgress(folder + mask, 102400)) return false;
  const std::vector<MatchedFile> files = matchingFiles(job.fsPath(folder), mask, false);
  for (size_t i = files.size(); i-- > 0;) {
    const std::wstring w = widen(job.fsPath(folder + files[i].name));
    SetFileAttributesW(w.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(w.c_str());
  }
  job.trace("        < " + folder + mask + " >");
  return true;
}

bool installFilesKind(NativeJob& job, const Fields& f) {
  if (f.size() < 10) return true;
  const std::string& header = f[0];
  const std::string target = withTrailingBackslash(f[1]);
  const bool readOnly = isTrueText(f[2]), hidden = isTrueText(f[3]), system = isTrueText(f[4]);
  const bool stopOnSkip = isTrueText(f[5]), selfRegister = isTrueText(f[6]), shared = isTrueText(f[7]);
  const bool permanent = isTrueText(f[8]), onlyIfAbsent = isTrueText(f[9]);
  job.byteProgress = true;
  const std::string sources = sourceFolderOf(job.engine());
  std::string readyFolder;  // the folder the previous file went to, known to be in place
  for (const auto& [sourcePath, subfolder] : headerFileGroup(job, header)) {
    const std::string source = sources + sourcePath;
    const std::string folder = subfolder.empty() ? target : withTrailingBackslash(target + subfolder);
    const std::string destination = folder + fileNameOf(sourcePath);
    if (!job.stepProgress(destination, 0)) return false;
    const bool existed = job.fileExists(destination);
    if (onlyIfAbsent && existed) continue;
    // A shared or permanent file is not deleted by the undo: its count (or nothing) decides.
    bool atNextStart = false;
    const PlaceOptions options{.recordCreateFile = !shared && !permanent, .destinationAbsent = !existed,
                               .folderReady = equalsNoCase(folder, readyFolder)};
    const Placement placed = placeFile(job, source, destination, options, &atNextStart);
    if (placed == Placement::Failed) return false;
    if (placed == Placement::Placed) readyFolder = folder;
    if (placed == Placement::Skipped && stopOnSkip) return false;
    // Not there at all: nothing to register, count or mark.
    if (placed != Placement::Placed && !job.fileExists(destination)) continue;
    if (selfRegister) {
      job.stepProgress("regsvr32 " + destination, 0);
      if (!atNextStart) registerFile(job, destination, false);
      else if (isExe(destination)) registerAtNextStart(job, "", destination);
      else registerAtNextStart(job, regsvr32For(job.fsPath(destination)), destination);
      if (!permanent && !shared) job.recordUndo("Register File", destination);
      job.trace("          < regsvr32 " + destination + " >");
    }
    if (shared) {
      bool readable = false;
      const int64_t count = sharedCount(job, destination, readable);
      const uint32_t next = static_cast<uint32_t>(readable ? count + 1 : existed ? 2 : 1);
      const StepOutcome outcome = job.retry(sharedDllsSubject(destination),
                                            [&]() -> DWORD { return writeSharedCount(job, destination, next); });
      if (outcome == StepOutcome::Aborted) return false;
      if (outcome == StepOutcome::Done && !permanent)
        job.recordUndo(selfRegister ? "Share Self Registering File" : "Share File", destination);
      job.trace("          < share " + destination + " >");
      job.stepProgress(sharedDllsSubject(destination), 0);
    }
    const DWORD bits = (readOnly ? FILE_ATTRIBUTE_READONLY : 0) | (hidden ? FILE_ATTRIBUTE_HIDDEN : 0) |
                       (system ? FILE_ATTRIBUTE_SYSTEM : 0);
    if (bits) {
      const std::wstring w = widen(job.fsPath(destination));
      const StepOutcome outcome = job.retry(destination, [&]() -> DWORD {
        return SetFileAttributesW(w.c_str(), bits) ? 0 : lastErrorOr(ERROR_ACCESS_DENIED);
      });
      if (outcome == StepOutcome::Aborted) return false;
      job.trace("          < attributes " + destination + " >");
    }
    job.trace("        < " + destination + " >");
  }
  return true;
}

bool copyMoveLocalFilesKind(NativeJob& job, const Fields& f) {
  if (f.size() < 6) return true;
  const std::string sourceFolder = withTrailingBackslash(f[0]), mask = f[1];
  const std::string destinationFolder = withTrailingBackslash(f[2]);
  const bool copy = isTrueText(f[3]), recursive = isTrueText(f[4]);
  std::string newName = f[5];
  if (mask.find_first_of("?*") != std::string::npos || newName.find_first_of("?*") != std::string::npos) newName.clear();
  if (!job.deferredRun && !job.stepProgress(sourceFolder + mask + " -> " + destinationFolder, 1048576)) return false;
  for (const MatchedFile& file : matchingFiles(job.fsPath(sourceFolder), mask, recursive)) {
    const std::string folder = destinationFolder + file.relativeFolder;
    if (!ensureFolder(job, folder)) return false;
    const std::string source = sourceFolder + file.relativeFolder + file.name;
    const std::string destination = folder + (newName.empty() ? file.name : fileNameOf(newName));
    if (equalsNoCase(job.fsPath(source), job.fsPath(destination))) continue;
    // Each file shows on the progress page, and a cancel stops before the next one.
    if (!job.stepProgress(destination, 0)) return false;
    const NativeJob::OverwriteDecision decision = job.decideOverwrite(source, destination);
    if (decision.cancel) return false;
    if (!decision.overwrite) continue;
    clearLockedTarget(job, destination, true);
    const bool recorded = job.recordUndo("Create File", destination);
    const StepOutcome outcome = copyWithRetry(job, source, destination, !copy, source + "\r->\r" + destination);
    if (outcome != StepOutcome::Done) {
      if (recorded) job.withdrawLastUndo();
      if (outcome == StepOutcome::Aborted) return false;
      continue;
    }
    job.trace("        < " + source + " -> " + destination + " >");
  }
  job.trace("        < " + sourceFolder + mask + " -> " + destinationFolder + " >");
  return true;
}

// ---- inverses ----

bool deleteFileInverse(NativeJob& job, const Fields& f, int64_t weight) {
  const std::string path = f.empty() ? std::string() : f[0];
  if (!path.empty()) deleteFileForUndo(job, path);
  return job.stepProgress(path, weight) && !job.aborted();
}

bool deleteFolderInverse(NativeJob& job, const Fields& f, int64_t weight) {
  for (const std::string& level : f) {
    const std::string fs = job.fsPath(level);
    if (!orv::folderExists(fs)) continue;  // already gone counts as removed
    WIN32_FIND_DATAW fd;
    bool empty = true;
    UniqueFind find(FindFirstFileW(widen(withTrailingBackslash(fs) + "*").c_str(), &fd));
    if (find.get() == INVALID_HANDLE_VALUE) break;  // cannot be listed
    do {
      const std::wstring name = fd.cFileName;
      if (name != L"." && name != L"..") empty = false;
    } while (empty && FindNextFileW(find.get(), &fd));
    find.reset();
    if (!empty) break;
    const StepOutcome outcome = job.retry(level, [&]() -> DWORD {
      if (RemoveDirectoryW(widen(fs).c_str()) || !orv::folderExists(fs)) return 0;
      return lastErrorOr(ERROR_DIR_NOT_EMPTY);
    });
    if (outcome == StepOutcome::Aborted) return false;
    if (outcome == StepOutcome::Done) job.trace("          < " + level + " >");
  }
  return job.stepProgress(f.empty() ? std::string() : f[0], weight) && !job.aborted();
}

namespace {
bool unshare(NativeJob& job, const Fields& f, int64_t weight, bool selfRegistering) {
  const std::string path = f.empty() ? std::string() : f[0];
  bool readable = false;
  const int64_t count = sharedCount(job, path, readable);
  // A count that cannot be read is never taken as the last user's: the file stays, and no count is
  // invented for it.
  const int64_t next = count - 1;
  if (readable && next > 0) {
    const StepOutcome outcome =
        job.retry(sharedDllsSubject(path), [&]() -> DWORD { return writeSharedCount(job, path, static_cast<uint32_t>(next)); });
    if (outcome == StepOutcome::Aborted) return false;
  } else if (readable) {
    LONG error = 0;
    if (auto key = RegistryKey::tryOpen(HKEY_LOCAL_MACHINE, std::string(kSharedDllsKey), KEY_READ | KEY_WRITE,
                                        job.view(), error))
      key->removeValue(path);
    if (selfRegistering && job.fileExists(path)) registerFile(job, path, true);
    deleteFileForUndo(job, path);
  }
  return job.stepProgress(sharedDllsSubject(path), weight) && !job.aborted();
}
}  // namespace

bool unshareFileInverse(NativeJob& job, const Fields& f, int64_t weight) { return unshare(job, f, weight, false); }

bool unshareSelfRegisteringFileInverse(NativeJob& job, const Fields& f, int64_t weight) {
  return unshare(job, f, weight, true);
}

bool unregisterFileInverse(NativeJob& job, const Fields& f, int64_t weight) {
  const std::string path = f.empty() ? std::string() : f[0];
  job.stepProgress("unregsvr32 " + path, 0);
  if (job.fileExists(path)) registerFile(job, path, true);
  return job.stepProgress(path, weight) && !job.aborted();
}

}  // namespace orv
