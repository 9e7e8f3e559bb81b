// Our 7z archive writer for the media blocks and the resource archive: LZMA2 (with the x86 filter in
// front for programs), optionally AES-256 encrypted with the header too, streamed from the files to the
// archive so a large block never sits in memory. The same entries always give the same bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orv::make {

// One entry to pack: a file or folder on disk, or a file whose bytes are given.
struct PackEntry {
  std::string name;              // inside the archive: UTF-8, "/" between the parts
  std::filesystem::path source;  // the file or folder on disk; empty for a file of `bytes`
  bool isFolder = false;
  std::string bytes;
};

struct PackProgress {
  size_t filesDone = 0;
  size_t filesTotal = 0;
  uint64_t bytesRead = 0;  // of the files' bytes
  uint64_t bytesTotal = 0;
  uint64_t bytesWritten = 0;  // to the archive
};
// Called as the files are read; it may throw to stop the packing (nothing is left behind then).
using PackProgressCallback = std::function<void(const PackProgress&)>;

struct PackOptions {
  std::string password;  // UTF-8; empty: nothing encrypted
  // Seconds since 1970 given to every entry instead of the files' own times (reproducible builds).
  std::optional<int64_t> fixedTime;
  PackProgressCallback progress;
};

// Every folder (empty ones too) and file under `folder`, named `prefix` + the path below it. Links to
// files are followed; a link to a folder, or anything that is neither file nor folder, is refused.
// Throws std::runtime_error.
std::vector<PackEntry> entriesOfFolder(const std::filesystem::path& folder, const std::string& prefix);

// SOURCE_DATE_EPOCH, when it is set to a number.
std::optional<int64_t> sourceDateEpoch();

// Writes the entries as a new 7z archive at `path`, which must not exist. Throws std::runtime_error with
// the reason (a bad name, an unreadable or changing file, a full disk); nothing is left at `path` then.
void writeArchive(const std::string& path, const std::vector<PackEntry>& entries, const PackOptions& options = {});

}  // namespace orv::make
