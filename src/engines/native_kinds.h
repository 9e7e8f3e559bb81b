// The procedures of the native action kinds and of the undo record inverses, and the file procedures
// several kinds share. Each procedure gets the job and the action's (or record's) fields.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engines/native_job.h"
#include "engines/native_security.h"

namespace orv {

// Action kinds.
bool createFolderKind(NativeJob& job, const Fields& f);
bool deleteFilesKind(NativeJob& job, const Fields& f);
bool installFilesKind(NativeJob& job, const Fields& f);
bool copyMoveLocalFilesKind(NativeJob& job, const Fields& f);
bool writeRegistryKind(NativeJob& job, const Fields& f);
bool setEnvironmentKind(NativeJob& job, const Fields& f);
bool editIniFileKind(NativeJob& job, const Fields& f);
bool createFileTypeKind(NativeJob& job, const Fields& f);
bool createShortcutKind(NativeJob& job, const Fields& f);
bool installServiceKind(NativeJob& job, const Fields& f);
bool controlServiceKind(NativeJob& job, const Fields& f);
bool installOdbcDriverKind(NativeJob& job, const Fields& f);
bool createOdbcDsnKind(NativeJob& job, const Fields& f);
bool installAssemblyKind(NativeJob& job, const Fields& f);

// Inverses (each ends with its own progress step; false only when an abort was answered or the job
// must stop).
bool deleteRegistryInverse(NativeJob& job, const Fields& f, int64_t weight);
bool deleteFileInverse(NativeJob& job, const Fields& f, int64_t weight);
bool deleteFolderInverse(NativeJob& job, const Fields& f, int64_t weight);
bool unshareFileInverse(NativeJob& job, const Fields& f, int64_t weight);
bool unshareSelfRegisteringFileInverse(NativeJob& job, const Fields& f, int64_t weight);
bool unregisterFileInverse(NativeJob& job, const Fields& f, int64_t weight);
bool deleteEnvironmentInverse(NativeJob& job, const Fields& f, int64_t weight);
bool removeIniEntryInverse(NativeJob& job, const Fields& f, int64_t weight);
bool deleteServiceInverse(NativeJob& job, const Fields& f, int64_t weight);
bool deleteOdbcDriverInverse(NativeJob& job, const Fields& f, int64_t weight);
bool removeOdbcDsnInverse(NativeJob& job, const Fields& f, int64_t weight);
bool removeAssemblyInverse(NativeJob& job, const Fields& f, int64_t weight);

// Shared file procedures (native_files.cpp).

// How PlaceFile ended: placed (or counted as placed), skipped (declined, or failed and ignored), or the
// action must fail (cancel, abort, a failed nested step).
enum class Placement { Placed, Skipped, Failed };
struct PlaceOptions {
  bool recordCreateFile = true;  // RecordUndo("Create File") for the destination
  // What the caller has just seen, so the placement need not look again (each look at a missing file
  // costs a search of its folder): no file at the destination (so nothing to decide or to clear), and
  // the destination's folder in place.
  bool destinationAbsent = false;
  bool folderReady = false;
};
// `replacedAtNextStart` learns whether the file was in use and goes in place at the next start.
Placement placeFile(NativeJob& job, const std::string& source, const std::string& destination,
                    const PlaceOptions& options = {}, bool* replacedAtNextStart = nullptr);
// Runs a nested "Create Folder" when the folder does not exist; false when that failed.
bool ensureFolder(NativeJob& job, const std::string& folder);

struct LockedTarget {
  bool locked = false;
  bool renamed = false;
  SecurityHandle security;  // the deleted file's security, for the file that replaces it
};
LockedTarget clearLockedTarget(NativeJob& job, const std::string& path, bool renameAllowed);
// Replace or delete at the next start; false when the system refused.
bool scheduleReplace(NativeJob& job, const std::string& source, const std::string& target);
bool scheduleDelete(NativeJob& job, const std::string& path);
void registerAtNextStart(NativeJob& job, const std::string& program, const std::string& file);
// Deletes a file as the "Delete File" inverse does (renaming or scheduling a locked one).
void deleteFileForUndo(NativeJob& job, const std::string& path);
// Self-registration and its reverse (the library's own entry point, or the program's switch).
void registerFile(NativeJob& job, const std::string& path, bool unregister);

// The (source path, second line) pairs of a command header's file group.
std::vector<std::pair<std::string, std::string>> headerFileGroup(NativeJob& job, std::string_view header);
// The folder the setup's files are read from (with a trailing backslash).
std::string sourceFolderOf(Engine& engine);

// One file that a folder and mask match; `relativeFolder` is empty or ends with a backslash.
struct MatchedFile {
  std::string relativeFolder;
  std::string name;
  int64_t size = 0;
};
// Files of `folder` (a file-system path) matching `mask`, sub-folders first when recursive.
std::vector<MatchedFile> matchingFiles(const std::string& folder, const std::string& mask, bool recursive);

}  // namespace orv
