// ExtractTo: the one way both extraction workers unpack an archive through the archive library: list
// every entry, then extract exactly those entries in a single call.
#pragma once
#include <cstdint>
#include <string>

#include "media/archive_library.h"

namespace orv {

// The library's text for a failed listing, and for a failed extraction.
std::string listFailureText(int32_t error);
std::string extractFailureText(int32_t error);
// Exactly the text a wrong password or an unreadable archive gives.
inline constexpr std::string_view kCannotOpenText = "The archive cannot be opened: unsupported archive or incorrect password";

struct ExtractOutcome {
  bool ok = false;
  std::string error;  // empty on success
};

// `questionAnswer` 4 or 1 for the library's per-file question; `fifthArgument` passed as given.
ExtractOutcome extractTo(const ArchiveLibrary& library, const std::string& archive, const std::string& password,
                         const std::string& targetFolder, const ArchiveLibrary::Progress& progress,
                         int32_t questionAnswer, bool fifthArgument);

}  // namespace orv
