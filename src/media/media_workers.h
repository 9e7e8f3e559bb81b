// The bodies of the media workers (TExtractMedia, TCopyMedia). Each job carries everything it reads,
// copied before the worker starts, and its own result fields, so a worker ended by its watchdog never
// reads or writes the engine's media state.
#pragma once
#include <string>
#include <vector>

#include "media/archive_library.h"

namespace orv {

struct Engine;
class WorkerContext;

// One file of the media file table: where it lies below the block's folder in the archive and the
// folder (relative to the data folder) it goes to. Both already checked to stay inside.
struct MediaPlacement {
  std::string pathInArchive;
  std::string destinationFolder;  // with a trailing backslash
};

struct ExtractionJob {
  std::string libraryFolder;
  std::string archive;
  std::string password;
  std::string dataFolder;  // D
  std::string scratch;     // S
  std::string blockName;   // N: the archive's file name without extension
  std::string prefix;      // progress prefix; empty for "Extract 7Zip Archive"
  std::string copyWebBlock;
  std::vector<MediaPlacement> placements;

  bool success = false;
  bool cannotOpen = false;  // the failure was the archive-could-not-be-opened case
  std::string error;
};

// Extraction into the scratch folder, placement by the table, the rest of the block moved as a tree.
void runExtractionJob(Engine& engine, WorkerContext& worker, ExtractionJob& job);

struct OfflineCopyJob {
  std::string source;  // the setup's data folder (holding "offline\" and "mergemod\")
  std::string dataFolder;
  bool copyOnly = false;  // #CACHESOURCES# "TRUE": the setup's folder keeps its files
  bool compress = false;
  std::string copyWebBlock;
  std::string setupProgram;

  bool success = false;
};

void runOfflineCopyJob(Engine& engine, WorkerContext& worker, OfflineCopyJob& job);

// Copying an archive (COPYWEBLOCK): nothing without a drive part in the target or when both have the
// same size; otherwise the target's folder is made and the file copied over.
void copyArchive(Engine& engine, const std::string& from, const std::string& to);

// The progress callback of both extraction workers.
ArchiveLibrary::Progress extractionProgress(Engine& engine, WorkerContext& worker, const std::string& prefix);

}  // namespace orv
