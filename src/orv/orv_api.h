// The archive library's exported interface (orv.lib, a DLL beside the setup). Shared by the library and
// the engine. All functions use the standard calling convention; texts are zero-terminated ANSI strings
// in the system code page; results are 32-bit.
#pragma once
#include <windows.h>

#include <cstdint>

extern "C" {

// Error numbers of GetLastArchiveError that callers tell apart.
enum : int32_t {
  kArchiveNotFound = 1001,     // "The archive file was not found"
  kArchiveIllegalPath = 1002,  // "Illegal path used in a wildcard expression"
  kArchiveCannotOpen = 1003,   // "The archive cannot be opened: unsupported archive or incorrect password"
  kArchiveCorrupt = 1004,      // data error: a damaged or truncated archive, a wrong password on data
  kArchiveWriteFailed = 1005,  // a target file or folder could not be written
  kArchiveCancelled = 1006,    // the progress callback answered 0
  kArchiveUnsupported = 1007,  // a method or filter the library does not decode
};

// Size of the buffer the library hands to the password callback, terminating zero included.
inline constexpr int kPasswordBufferSize = 1024;

// Copies the password into the buffer and answers 1; answers 0 when it has none (more).
typedef int32_t(WINAPI* OrvPasswordCallback)(char* buffer);
// Current file name, done bytes and total bytes as low/high halves; 0 stops the extraction.
typedef int32_t(WINAPI* OrvProgressCallback)(const char* fileName, uint32_t doneLow, uint32_t doneHigh,
                                             uint32_t totalLow, uint32_t totalHigh);
typedef int32_t(WINAPI* OrvNinthCallback)(int32_t a, int32_t b);
// Per-file question (ten 32-bit arguments); the answer chosen by the caller (4 or 1).
typedef int32_t(WINAPI* OrvQuestionCallback)(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5,
                                             int32_t a6, int32_t a7, int32_t a8, int32_t a9, int32_t a10);

struct OrvFileSet {
  const char* const* names;  // entry paths inside the archive (case-insensitive, "\" or "/")
  int32_t count;             // 0 with a null array: every entry
};

// One listed entry (48 bytes); callers read only `path`, and only until CloseListArchive.
struct OrvListEntry {
  const char* path;
  uint32_t attributes;
  uint32_t isFolder;
  uint64_t size;
  uint64_t modified;  // FILETIME as one number, 0 when the archive has none
  uint32_t crc;
  uint32_t hasCrc;
  uint32_t reserved[2];
};
static_assert(sizeof(OrvListEntry) == 48, "entry records are 48 bytes");

// Extracts the named entries (every entry when the set is null or empty) into `targetFolder` (ending
// with "\"), overwriting. `mode` is 1. `flatten` 1 places every file directly in the target folder.
// Non-zero on success, 0 on failure (see GetLastArchiveError).
int32_t WINAPI ExtractArchive(const char* archivePath, int32_t mode, const char* targetFolder,
                              const OrvFileSet* files, int32_t flatten, const char* password,
                              OrvPasswordCallback passwordCallback, OrvProgressCallback progress,
                              OrvNinthCallback ninth, OrvQuestionCallback question);

// Lists the archive; the handle owns the entry array until CloseListArchive. 0 on failure.
HANDLE WINAPI OpenListArchive(const char* archivePath, int32_t zero1, OrvPasswordCallback passwordCallback,
                              int32_t zero2, int32_t zero3, int32_t zero4, const char* password,
                              OrvListEntry** entries, int32_t* count);
void WINAPI CloseListArchive(HANDLE handle);
int32_t WINAPI GetLastArchiveError(void);

}  // extern "C"
