// Writes extracted entries under a target folder: files through a temporary beside the target that
// replaces it only once every byte arrived and matched its CRC, so a failed entry leaves an existing
// file as it was; folders, attributes and modification times as the archive has them.
#pragma once
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "core/archive/sevenzip.h"
#include "orv/orv_api.h"

namespace orv::lib {

// Reports the current file and the bytes done to the caller's callback; its 0 cancels.
class Progress {
 public:
  Progress(OrvProgressCallback callback, uint64_t total) : callback_(callback), total_(total) {}
  void startFile(const std::string& utf8Name);
  void advance(uint64_t bytes);
  void finish();

 private:
  void report();

  OrvProgressCallback callback_;
  std::string file_;  // in the system code page, as the callback expects
  uint64_t done_ = 0;
  uint64_t total_;
};

// The target folder as a full path in the long form ("\\?\C:\...\"), so entry paths are not limited to
// MAX_PATH and no name is reinterpreted.
std::wstring longFolderPath(const std::wstring& folder);

class FolderWriter final : public archive::ExtractSink {
 public:
  // `targets` holds, per archive entry, its safe path relative to `root` (empty when not extracted).
  FolderWriter(std::wstring root, std::vector<std::wstring> targets, Progress& progress);
  std::unique_ptr<archive::EntryOutput> open(size_t index, const archive::ArchiveEntry& entry) override;
  // Gives folders their attributes and times once nothing more is written inside them.
  void finish();

 private:
  void ensureFolder(const std::wstring& path);

  std::wstring root_;
  std::vector<std::wstring> targets_;
  Progress& progress_;
  std::set<std::wstring> existingFolders_;
  std::vector<std::pair<std::wstring, archive::ArchiveEntry>> folders_;
};

}  // namespace orv::lib
