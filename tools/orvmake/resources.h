// The resource archive beside the setup ("<name>.res"): the project's support files and its compiled
// pages, packed by the system 7zz (7-Zip's LZMA2 archives are what the engine's reader takes).
#pragma once
#include <string>
#include <vector>

#include "orvmake/pages.h"

namespace orv::make {

// Names of the files under the resource folder, relative to it with "/" separators; none when the
// folder is empty text. Throws std::runtime_error when the folder cannot be read.
std::vector<std::string> supportFileNames(const std::string& resourceFolder);

// Packs the folder's files and `generated` into a new archive at `archivePath` (which must not exist).
// A generated file may not replace a support file of the same name. Throws std::runtime_error with
// the reason; nothing is left at `archivePath` then.
void writeResourceArchive(const std::string& archivePath, const std::string& resourceFolder,
                          const std::vector<SupportFile>& generated, const std::string& sevenZip = "7zz");

}  // namespace orv::make
