#include "media/acquire_media.h"

#include <windows.h>

#include <algorithm>
#include <memory>

#include "bootstrap/engine.h"
#include "bootstrap/trace.h"
#include "core/text.h"
#include "core/variables.h"
#include "engines/maintenance.h"
#include "engines/maintenance_files.h"
#include "engines/native_plan.h"
#include "media/media_files.h"
#include "media/media_password.h"
#include "media/media_state.h"
#include "media/media_workers.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "platform/system.h"
#include "script/interpreter.h"
#include "script/worker.h"

namespace orv {
namespace {

constexpr std::string_view kCancelTrickle = "GrabMediaEx Extract Failure Cancel Trickle";
constexpr std::string_view kWeblockAbort = "Weblock Abort";
constexpr int kSilentAttempts = 10;  // an archive that cannot be opened is tried this often before asking

bool isTrue(const Engine& e, std::string_view name) { return isTrueText(e.vars.getValue(name)); }

void trace(Engine& e, const std::string& text) {
  if (e.trace) e.trace->line("      <Media>" + text + "</Media>");
}

// The worker-active flag of the wait protocol, held for the whole acquisition.
class WorkerActiveScope {
 public:
  explicit WorkerActiveScope(Engine& e) : e_(e), previous_(e.workers.workerActive) { e.workers.workerActive = true; }
  ~WorkerActiveScope() { e_.workers.workerActive = previous_; }
  WorkerActiveScope(const WorkerActiveScope&) = delete;
  WorkerActiveScope& operator=(const WorkerActiveScope&) = delete;

 private:
  Engine& e_;
  bool previous_;
};

// Step 2: blocks made present in another data folder earlier in the run (ALLUSERS changed since) move
// along, so a block is never unpacked twice.
void followDataFolder(Engine& e, const std::string& folder) {
  MediaState& st = mediaState(e);
  if (!st.dataFolder.empty() && !equalsNoCase(st.dataFolder, folder) && folderExists(st.dataFolder))
    if (!moveTree(st.dataFolder, folder)) trace(e, st.dataFolder + " could not be moved to " + folder);
  st.dataFolder = folder;
}

std::string compilerConstant(const Engine& e, std::string_view name) {
  return e.index ? expandCompilerConstants("#" + std::string(name) + "#", e.index->compilerConstants()) : std::string();
}

// The setup's own data folder, or its parent when the offline files lie beside the data folder.
std::string offlineSourceFolder(const Engine& e) {
  const std::string source = withTrailingBackslash(e.startup.dataFolder);
  if (folderExists(source + "offline") || folderExists(source + "mergemod")) return source;
  std::string trimmed = source;
  while (!trimmed.empty() && trimmed.back() == '\\') trimmed.pop_back();
  return folderOf(trimmed);
}

void copyOfflineBlock(Engine& e, const std::string& data, const std::string& blockFolder) {
  auto job = std::make_shared<OfflineCopyJob>();
  job->source = offlineSourceFolder(e);
  job->dataFolder = data;
  job->copyOnly = equalsNoCase(compilerConstant(e, "CACHESOURCES"), "TRUE");
  job->compress = isTrue(e, "ZORN_COMPRESS_INSTALLER_CACHE");
  job->copyWebBlock = e.vars.getValue("COPYWEBLOCK");
  job->setupProgram = e.startup.programPath;
  const WorkerOutcome how =
      runWorker(e, WorkerKind::CopyMedia, [&e, job](WorkerContext& worker) { runOfflineCopyJob(e, worker, *job); });
  if (how == WorkerOutcome::Completed && job->success) return;
  deleteTree(blockFolder);
  throw MediaFailure(kCopyFailed);
}

// Step 6a: an archive beside the setup (or in the policy or self-extractor folder) serves unless the user
// set it aside.
std::string localArchive(Engine& e, const std::string& archiveName) {
  std::string folder = e.vars.getValue("GPOPATH");
  if (folder.empty()) folder = e.vars.getValue("SFXPATH");
  if (folder.empty()) folder = e.vars.getValue("EXEDIR");
  if (folder.empty()) return {};
  const std::string path = withTrailingBackslash(folder) + archiveName;
  const std::vector<std::string>& rejected = mediaState(e).rejectedLocalArchives;
  if (!fileExists(path) || std::find(rejected.begin(), rejected.end(), lower(path)) != rejected.end()) return {};
  return path;
}

// The media file table's entries of a block, each checked to stay inside the scratch and data folders.
std::vector<MediaPlacement> placementsOf(const Engine& e, const std::string& blockName) {
  std::vector<MediaPlacement> placements;
  const std::vector<std::string>& table = e.image.mediaFiles;
  for (size_t i = 0; i + 2 < table.size(); i += 3) {
    if (!equalsNoCase(table[i], blockName)) continue;
    const std::optional<std::string> path = safeMediaPath(table[i + 1]);
    const std::optional<std::string> folder = safeMediaPath(table[i + 2]);
    if (!path || !folder) throw MediaFailure("Illegal path in the media file table: " + table[i + 1] + ", " + table[i + 2]);
    placements.push_back({*path, *folder + "\\"});
  }
  return placements;
}

struct ExtractionResult {
  bool cancelled = false;
  bool success = false;
  bool cannotOpen = false;
  std::string error;
};

ExtractionResult extractBlock(Engine& e, const std::shared_ptr<ExtractionJob>& job) {
  ExtractionResult result;
  const WorkerOutcome how =
      runWorker(e, WorkerKind::ExtractMedia, [&e, job](WorkerContext& worker) { runExtractionJob(e, worker, *job); });
  if (how == WorkerOutcome::Cancelled) {
    result.cancelled = true;
    return result;
  }
  result.success = job->success;
  result.cannotOpen = job->cannotOpen;
  result.error = job->error;
  return result;
}

ExtractionRetry askRetry(Engine& e) {
  if (isTrue(e, "SILENT")) return ExtractionRetry::Cancel;
  return mediaPrompts(e).retryExtraction(e);  // the worker has ended: this is the UI thread
}

enum class BlockOutcome { Present, StartOver };

// Steps 6a to 6f for one web block.
BlockOutcome acquireWebBlock(Engine& e, const std::string& data, const std::string& blockName) {
  MediaState& st = mediaState(e);
  const std::string blockFolder = data + blockName + "\\";
  const std::string marker = blockFolder + e.vars.getValue("REVISIONCODE");
  const std::string archiveName = blockName + ".7zip";
  const std::string downloaded = data + archiveName;
  const std::string local = localArchive(e, archiveName);
  // The web transport is not part of this engine: an archive must be beside the setup or already in
  // the data folder (a finished earlier download).
  if (local.empty() && !fileExists(downloaded)) throw MediaFailure(kDownloadFailed);
  const std::string archive = local.empty() ? downloaded : local;

  const std::string stored = storedBlockPassword(*e.index, blockName);
  const std::optional<std::string> password = unscrambleMediaPassword(stored);
  if (!password) throw MediaFailure("The password of media block " + blockName + " is damaged.");

  auto job = std::make_shared<ExtractionJob>();
  job->libraryFolder = e.startup.programFolder;
  job->archive = archive;
  job->password = fromCodePage(*password, static_cast<unsigned>(e.image.codePage));
  job->dataFolder = data;
  job->scratch = tempFolder() + "zorn\\";
  job->blockName = withoutExtension(fileNameOf(archive));
  job->prefix = "Extracting Web Media: " + blockName;
  job->copyWebBlock = e.vars.getValue("COPYWEBLOCK");
  job->placements = placementsOf(e, job->blockName);

  for (int attempts = 0;;) {
    createFolders(blockFolder);
    createFolders(job->scratch);
    applyCacheCompression(e, blockFolder);
    applyCacheCompression(e, job->scratch);
    const ExtractionResult result = extractBlock(e, job);
    if (result.success) {
      createFolders(blockFolder);
      writeWholeFile(marker, "");
      if (local.empty()) removeFile(downloaded);
      return BlockOutcome::Present;
    }
    deleteTree(blockFolder);
    if (result.cancelled) throw MediaFailure(kExtractionFailed);
    trace(e, archive + ": " + result.error);
    ++attempts;
    if (result.cannotOpen && attempts < kSilentAttempts) continue;
    switch (askRetry(e)) {
      case ExtractionRetry::ExtractAgain:
        continue;
      case ExtractionRetry::FreshCopy:
        if (local.empty()) removeFile(downloaded);
        else st.rejectedLocalArchives.push_back(lower(local));
        st.resume = false;
        return BlockOutcome::StartOver;
      case ExtractionRetry::Cancel:
        e.vars.defineVariable("ZORN_IsCancelled", "TRUE", kCancelTrickle);
        throw MediaFailure(kExtractionFailed);
    }
  }
}

}  // namespace

std::string mediaDataFolder(Engine& e) {
  return withTrailingBackslash(instanceCacheRoot(e, isTrue(e, "ALLUSERS"))) + e.vars.getValue("REVISIONCODE") + "\\";
}

void acquireMedia(Engine& e, const std::string& blockFolder) {
  WorkerActiveScope active(e);
  const std::string data = mediaDataFolder(e);
  followDataFolder(e, data);
  if (isTrue(e, "REMOVE")) return;  // an uninstall needs no media
  std::string blockName = blockFolder;
  while (!blockName.empty() && blockName.back() == '\\') blockName.pop_back();
  if (!isPlainName(blockName)) throw MediaFailure("Illegal media block name: " + blockFolder);
  const std::string folder = data + blockName + "\\";
  for (;;) {
    if (folderExists(folder)) {
      if (fileExists(folder + e.vars.getValue("REVISIONCODE"))) return;
      trace(e, folder + " is incomplete and is made again");
      deleteTree(folder);
    }
    if (equalsNoCase(blockName, "OFFLINE")) {
      copyOfflineBlock(e, data, folder);
      createFolders(folder);
      writeWholeFile(folder + e.vars.getValue("REVISIONCODE"), "");
      return;
    }
    if (acquireWebBlock(e, data, blockName) == BlockOutcome::Present) return;
  }
}

bool handleMediaFailure(Engine& e, const std::string& text) {
  trace(e, text);
  if (!isTrue(e, "SILENT")) mediaPrompts(e).showFailure(e, text);
  if (isTrue(e, "ABORTONERROR")) {
    rollbackNativeChanges(e);
    endScriptRun(e);
    return false;
  }
  e.vars.defineVariable("ABORTEDONERROR", "TRUE", kWeblockAbort);
  return true;
}

bool acquireLineMedia(Engine& e, size_t line) {
  if (e.image.cachingMode != 2 || line == 0 || line > e.image.mediaFolders.size()) return true;
  const std::string& block = e.image.mediaFolders[line - 1];
  if (block.empty() || isTrue(e, "ABORTEDONERROR")) return true;
  try {
    acquireMedia(e, block);
    return true;
  } catch (const MediaFailure& failure) {
    return handleMediaFailure(e, failure.what());
  }
}

}  // namespace orv
