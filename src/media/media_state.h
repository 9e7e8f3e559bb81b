// The media subsystem's state for one run (Engine::media): the data folder blocks were last made
// present in, the current web media of "Web Media Block", the download settings kept for the run, the
// local archives the user rejected, and the seam to the user's answers.
#pragma once
#include <memory>
#include <string>
#include <vector>

namespace orv {

struct Engine;

// The answer to the "Retry Extraction?" prompt.
enum class ExtractionRetry { FreshCopy, ExtractAgain, Cancel };

// Questions and messages of media acquisition; always called on the UI thread.
class MediaPrompts {
 public:
  virtual ~MediaPrompts() = default;
  virtual ExtractionRetry retryExtraction(Engine& engine) = 0;
  // The error box a calling command shows for a failed acquisition.
  virtual void showFailure(Engine& engine, const std::string& text) = 0;
};

struct WebMedia {
  std::string blockName;  // as "Web Media Block" named it (may be empty)
  std::vector<std::string> urls;
  std::string archivePath;  // data folder + block name + ".7zip"
  std::string password;     // the stored (scrambled) text
};

struct MediaState {
  // The data folder of the last acquisition in this run; a later one in another folder takes its blocks.
  std::string dataFolder;
  WebMedia current;
  // Download settings kept for the run (the download itself is the web transport's).
  bool resume = true;
  std::string proxyServer, proxyPort, proxyUser, proxyPassword;
  // Local archives beside the setup that failed and were set aside for a fresh copy (lower case).
  std::vector<std::string> rejectedLocalArchives;
  std::shared_ptr<MediaPrompts> prompts;  // null: the engine's own message boxes
};

// The run's media state, created on first use.
MediaState& mediaState(Engine& engine);
// The prompts in force: the state's, or the engine's own message boxes.
MediaPrompts& mediaPrompts(Engine& engine);
std::shared_ptr<MediaPrompts> messageBoxPrompts();

}  // namespace orv
