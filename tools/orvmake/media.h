// Media blocks of a project: each block's folder travels as "<name>.7zip" beside the setup (one top
// folder named like the block, packed by our 7z writer with the block's password), which the engine finds there and unpacks into
// its data folder before the "Install Files" lines that take their files from it.
#pragma once
#include <string>

#include "orvmake/archive_writer.h"
#include "orvmake/project.h"

namespace orv::make {

// Fills the image's media tables. An "Install Files" line whose first parameter names a block
// ("DEMO", or "DEMO\bin" for a folder in it) takes the files under that folder whose names match the
// mask of its second parameter (empty: all), subfolders kept below its target folder: the line gets
// the block as its media folder, a command header and the header's file list. Every file of a block
// gets its place in the media file table, and the total install weight counts the lines' files.
// Caching mode 2 (sources kept in the engine cache) is the default once there are blocks. Throws
// ProjectError at the line that names a missing block or folder, or installs no file.
void planMedia(Project& project);

// The archive's file name beside the setup.
std::string mediaArchiveName(const MediaBlock& block);

// Packs the block into a new archive at `archivePath` (which must not exist), encrypted, header too,
// when the block has a password. Entry times are SOURCE_DATE_EPOCH when it is set. Throws
// std::runtime_error with the reason; nothing is left at `archivePath` then.
void writeMediaArchive(const MediaBlock& block, const std::string& archivePath, const PackProgressCallback& progress = {});

}  // namespace orv::make
