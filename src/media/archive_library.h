// The engine's side of the archive library (orv.lib beside the program): loaded by full path from the
// program folder, never through the DLL search.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "orv/orv_api.h"
#include "platform/handles.h"

namespace orv {

class ArchiveLibrary {
 public:
  // Loads folder + "orv.lib"; a library that cannot be loaded leaves the object empty.
  explicit ArchiveLibrary(const std::string& folder);
  bool loaded() const { return extract_ != nullptr; }

  struct Result {
    bool ok = false;
    int32_t error = 0;  // GetLastArchiveError after a failure
  };
  // Extracts the named entries (all when `names` is empty) into `targetFolder` (with a trailing
  // backslash), overwriting. `progress` returns false to stop.
  using Progress = std::function<bool(const std::string& file, uint64_t done, uint64_t total)>;
  Result extract(const std::string& archivePath, const std::string& targetFolder,
                 const std::vector<std::string>& names = {}, bool flatten = false, const std::string& password = {},
                 Progress progress = {}, int32_t questionAnswer = 4) const;

  // Every entry path of the archive (UTF-8), or the error number of the failed listing.
  struct Listing {
    bool ok = false;
    int32_t error = 0;
    std::vector<std::string> paths;
  };
  Listing list(const std::string& archivePath, const std::string& password) const;

  // The bytes appended behind the library's own image (the runtime-message file), empty when none.
  static std::string appendedMessages(const std::string& folder);

 private:
  UniqueModule module_;
  decltype(&ExtractArchive) extract_ = nullptr;
  decltype(&GetLastArchiveError) lastError_ = nullptr;
  decltype(&OpenListArchive) openList_ = nullptr;
  decltype(&CloseListArchive) closeList_ = nullptr;
};

}  // namespace orv
