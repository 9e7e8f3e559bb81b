// The resource archive beside the setup ("<name>.res"): the project's support files and its compiled
// pages, packed by the system 7zz (7-Zip's LZMA2 archives are what the engine's reader takes).
#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "orvmake/pages.h"

namespace orv::make {

// A private folder under the system's temporary folder, removed with everything in it.
class StagingFolder {
 public:
  StagingFolder();
  ~StagingFolder();
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Runs the program with its arguments in `folder`; its exit code, or -1 when it could not start.
int runIn(const std::filesystem::path& folder, const std::vector<std::string>& arguments);

// Names of the files under the resource folder, relative to it with "/" separators; none when the
// folder is empty text. Throws std::runtime_error when the folder cannot be read.
std::vector<std::string> supportFileNames(const std::string& resourceFolder);

// Packs the folder's files and `generated` into a new archive at `archivePath` (which must not exist).
// A generated file may not replace a support file of the same name. Throws std::runtime_error with
// the reason; nothing is left at `archivePath` then.
void writeResourceArchive(const std::string& archivePath, const std::string& resourceFolder,
                          const std::vector<SupportFile>& generated, const std::string& sevenZip = "7zz");

}  // namespace orv::make
