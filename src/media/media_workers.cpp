#include "media/media_workers.h"

#include <windows.h>

#include <map>
#include <memory>
#include <set>

#include "bootstrap/engine.h"
#include "core/text.h"
#include "engines/maintenance_files.h"
#include "media/extract_to.h"
#include "media/media_files.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "script/worker.h"

namespace orv {
namespace {

enum class PlacementOutcome { Placed, MoveFailed, CopyFailed };

bool copyOver(const std::string& from, const std::string& to) {
  return CopyFileW(widen(from).c_str(), widen(to).c_str(), FALSE) != 0;
}

bool moveOver(const std::string& from, const std::string& to) {
  return MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_COPY_ALLOWED) != 0;
}

// Step 2b and 2c of the extraction worker: every table entry of this block into its folder. In move
// mode an archive file that two entries name is copied back from where the first one put it.
//
// An entry whose place in the data folder is its own place in the block (the block folder + its path
// in the archive) stays where the extraction put it: the block's folder then moves into the data folder
// whole, one rename instead of one per file.
PlacementOutcome placeFiles(const ExtractionJob& job, bool copyMode) {
  const std::string blockRoot = job.scratch + job.blockName + "\\";
  const std::string blockTarget = job.dataFolder + job.blockName + "\\";
  std::vector<bool> inPlace(job.placements.size());
  std::set<std::string> staying;  // lower-case sources that travel with the block's folder
  for (size_t i = 0; i < job.placements.size() && !copyMode; ++i) {
    const MediaPlacement& p = job.placements[i];
    inPlace[i] = equalsNoCase(job.dataFolder + p.destinationFolder + fileNameOf(p.pathInArchive), blockTarget + p.pathInArchive);
    if (inPlace[i]) staying.insert(lower(blockRoot + p.pathInArchive));
  }
  std::map<std::string, std::string> movedTo;  // lower-case source -> where it went
  for (size_t i = 0; i < job.placements.size(); ++i) {
    if (inPlace[i]) continue;
    const MediaPlacement& p = job.placements[i];
    const std::string source = blockRoot + p.pathInArchive;
    const std::string folder = job.dataFolder + p.destinationFolder;
    const std::string destination = folder + fileNameOf(source);
    if (!createFolders(folder) || !removeFile(destination)) return copyMode ? PlacementOutcome::CopyFailed : PlacementOutcome::MoveFailed;
    const std::string key = lower(source);
    if (copyMode || staying.count(key)) {
      if (!copyOver(source, destination)) return copyMode ? PlacementOutcome::CopyFailed : PlacementOutcome::MoveFailed;
      continue;
    }
    if (!fileExists(source)) {
      const auto earlier = movedTo.find(key);
      if (earlier == movedTo.end() || !copyOver(earlier->second, source)) return PlacementOutcome::MoveFailed;
    }
    if (!moveOver(source, destination)) return PlacementOutcome::MoveFailed;
    movedTo[key] = destination;
  }
  return PlacementOutcome::Placed;
}

bool extractOnce(Engine& engine, WorkerContext& worker, ExtractionJob& job, const ArchiveLibrary& library) {
  deleteTree(job.scratch + job.blockName + "\\");  // what an interrupted run left must not join this block
  const ExtractOutcome outcome =
      extractTo(library, job.archive, job.password, job.scratch, extractionProgress(engine, worker, job.prefix), 4, false);
  if (outcome.ok) return true;
  job.error = outcome.error;
  job.cannotOpen = outcome.error == kCannotOpenText;
  return false;
}

}  // namespace

constexpr ULONGLONG kWakeIntervalMs = 15;

ArchiveLibrary::Progress extractionProgress(Engine& engine, WorkerContext& worker, const std::string& prefix) {
  // The library calls back for every file and every written chunk, thousands of times a second; the
  // page refreshes at most every few milliseconds anyway, so the UI thread is woken that often and at
  // the end, not for every call.
  auto lastWake = std::make_shared<ULONGLONG>(0);
  return [&engine, &worker, prefix, lastWake](const std::string& file, uint64_t done, uint64_t total) {
    const uint64_t percent = total == 0 ? 100 : std::min<uint64_t>(100, done / total * 100 + (done % total) * 100 / total + 1);
    std::string text = prefix.empty() ? std::string() : prefix + "\r";
    text += fileNameOf(file) + ", " + std::to_string(percent) + "% complete";
    reportProgress(engine, text, 0, 100, static_cast<int64_t>(percent));
    const ULONGLONG now = GetTickCount64();
    if (done >= total || now - *lastWake >= kWakeIntervalMs) {
      *lastWake = now;
      wakeUiThread(engine);
    }
    return !worker.stopRequested();
  };
}

void runExtractionJob(Engine& engine, WorkerContext& worker, ExtractionJob& job) {
  const ArchiveLibrary library(job.libraryFolder);
  bool copyMode = false;
  for (;;) {
    if (!extractOnce(engine, worker, job, library)) return;
    if (!job.copyWebBlock.empty())
      copyArchive(engine, job.archive, withTrailingBackslash(job.copyWebBlock) + fileNameOf(job.archive));
    const PlacementOutcome placed = placeFiles(job, copyMode);
    if (placed == PlacementOutcome::MoveFailed && !copyMode) {
      copyMode = true;  // a file that cannot be moved is copied instead, from a fresh extraction
      continue;
    }
    if (placed != PlacementOutcome::Placed) {
      job.error = "A file of the media block could not be put in place.";
      return;
    }
    break;
  }
  const std::string rest = job.scratch + job.blockName + "\\";
  if (folderExists(rest) && !moveTree(rest, job.dataFolder + job.blockName + "\\")) {
    job.error = "The media block could not be moved into the data folder.";
    return;
  }
  RemoveDirectoryW(widen(job.scratch).c_str());
  job.success = true;
}

void copyArchive(Engine& engine, const std::string& from, const std::string& to) {
  if (to.size() < 2 || to[1] != ':') return;
  if (std::max<int64_t>(fileSize(from), 0) == std::max<int64_t>(fileSize(to), 0)) return;
  const std::string folder = folderOf(to);
  createFolders(folder);
  applyCacheCompression(engine, folder);
  if (folderExists(folder)) copyOver(from, to);
}

void runOfflineCopyJob(Engine& engine, WorkerContext& worker, OfflineCopyJob& job) {
  reportProgress(engine, "$IGNORE$", 0, 100, 0);
  struct Planned {
    std::string from, to;
  };
  std::vector<Planned> files;
  for (const std::string& relative : filesBelow(job.source + "offline\\"))
    files.push_back({job.source + "offline\\" + relative, job.dataFolder + "offline\\" + relative});
  // Merge modules lose their "mergemod" level in the cache.
  for (const std::string& relative : filesBelow(job.source + "mergemod\\"))
    files.push_back({job.source + "mergemod\\" + relative, job.dataFolder + relative});
  for (size_t i = 0; i < files.size(); ++i) {
    const int64_t percent = std::min<int64_t>(100, static_cast<int64_t>(i * 100 / files.size() + 1));
    reportProgress(engine, "$IGNORE$", 0, 100, percent);
    if (worker.stopRequested()) return;
    const Planned& f = files[i];
    createFolders(folderOf(f.to));
    reportProgress(engine, fileNameOf(f.from) + ", " + std::to_string(percent) + "% complete", 0, 100, percent);
    if (!fileExists(f.to)) {
      if (job.copyOnly) CopyFileW(widen(f.from).c_str(), widen(f.to).c_str(), TRUE);
      else if (!moveOver(f.from, f.to)) copyOver(f.from, f.to);
      if (job.compress) applyCacheCompression(engine, f.to);
    }
    if (!fileExists(f.to)) return;
    wakeUiThread(engine);
  }
  if (!job.copyWebBlock.empty())
    copyArchive(engine, job.setupProgram, withTrailingBackslash(job.copyWebBlock) + fileNameOf(job.setupProgram));
  job.success = true;
}

}  // namespace orv
