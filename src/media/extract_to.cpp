#include "media/extract_to.h"

#include "core/text.h"
#include "orv/orv_api.h"

namespace orv {
namespace {

// The numbers every caller tells apart, with the same text after a listing or an extraction.
const char* knownFailureText(int32_t error) {
  switch (error) {
    case kArchiveNotFound: return "The archive file was not found";
    case kArchiveIllegalPath: return "Illegal path used in a wildcard expression";
    case kArchiveCannotOpen: return kCannotOpenText.data();
    default: return nullptr;
  }
}

}  // namespace

std::string listFailureText(int32_t error) {
  const char* known = knownFailureText(error);
  return known ? known : "General failure opening archive";
}

std::string extractFailureText(int32_t error) {
  const char* known = knownFailureText(error);
  return known ? known : "#" + std::to_string(error);
}

ExtractOutcome extractTo(const ArchiveLibrary& library, const std::string& archive, const std::string& password,
                         const std::string& targetFolder, const ArchiveLibrary::Progress& progress,
                         int32_t questionAnswer, bool fifthArgument) {
  // The library is given long paths itself (it writes through the extended-length form), so the
  // temporary drive letters older libraries needed for deep folders are not made here.
  if (!library.loaded()) return {false, "The archive library orv.lib could not be loaded"};
  const ArchiveLibrary::Listing listing = library.list(archive, password);
  if (!listing.ok) return {false, listFailureText(listing.error)};
  if (listing.paths.empty()) return {true, {}};  // an empty set would mean "every entry" to the library
  const ArchiveLibrary::Result result = library.extract(archive, withTrailingBackslash(targetFolder), listing.paths,
                                                        fifthArgument, password, progress, questionAnswer);
  if (!result.ok) return {false, extractFailureText(result.error)};
  return {true, {}};
}

}  // namespace orv
