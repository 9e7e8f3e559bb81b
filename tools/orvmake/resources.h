// The resource archive beside the setup ("<name>.res"): the project's support files and its compiled
// pages at the archive's root, packed by our 7z writer (LZMA2, what the engine's reader takes).
#pragma once
#include <string>
#include <vector>

#include "orvmake/archive_writer.h"
#include "orvmake/pages.h"

namespace orv::make {

// Names of the files under the resource folder, relative to it with "/" separators; none when the
// folder is empty text. Throws std::runtime_error when the folder cannot be read.
std::vector<std::string> supportFileNames(const std::string& resourceFolder);

// Packs the folder's files and `generated` into a new archive at `archivePath` (which must not exist).
// A generated file may not replace a support file of the same name. Throws std::runtime_error with
// the reason; nothing is left at `archivePath` then. Entry times are SOURCE_DATE_EPOCH when it is set.
void writeResourceArchive(const std::string& archivePath, const std::string& resourceFolder,
                          const std::vector<SupportFile>& generated, const PackProgressCallback& progress = {});

}  // namespace orv::make
