// AcquireMedia: makes a media block present in the data folder before the commands that install its
// files run. The offline block is copied from the setup's own data folder; a web block's archive (found
// beside the setup, or already in the data folder) is extracted into the scratch folder through the
// archive library and its files moved into place by the image's media file table. A block counts as
// present only once its completion marker is written, so an interrupted block is emptied and redone.
#pragma once
#include <stdexcept>
#include <string>

namespace orv {

struct Engine;

// The failure texts callers show; the calling command decides what follows ("Weblock Abort").
class MediaFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kDownloadFailed = "Unable to download installation data from the web";
inline constexpr const char* kExtractionFailed = "Unable to extract installation data downloaded from the web";
inline constexpr const char* kCopyFailed = "Unable to copy installation data to local folders";

// Makes the block (its folder name followed by a backslash, "OFFLINE\" for the offline block) present
// in the data folder of caching mode 2. Throws MediaFailure.
void acquireMedia(Engine& engine, const std::string& blockFolder);

// The data folder of the blocks: the engine cache folder for ALLUSERS as it stands now.
std::string mediaDataFolder(Engine& engine);

// For the installing commands: with caching mode 2, the line's block (image section J) made present
// unless ABORTEDONERROR is set. A failure is shown unless silent; with ABORTONERROR the native changes
// are rolled back and the run ends (false), otherwise ABORTEDONERROR is set and the command goes on.
bool acquireLineMedia(Engine& engine, size_t line);
// The same handling for a failure met by any other caller.
bool handleMediaFailure(Engine& engine, const std::string& text);

}  // namespace orv
