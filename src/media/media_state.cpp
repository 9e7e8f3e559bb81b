#include "media/media_state.h"

#include <windows.h>

#include "bootstrap/engine.h"
#include "core/text.h"
#include "platform/strings.h"

namespace orv {
namespace {

constexpr std::string_view kRetryCaption = "Retry Extraction?";
// The prompt's two ways on, offered as the message box's Yes and No.
constexpr std::string_view kRetryText =
    "Extraction of installation data downloaded from the web has failed. What would you like to do?\n\n"
    "Yes: Download a fresh copy of the installation data.\n"
    "No: Try to extract the existing download data again.\n\n"
    "If you choose Cancel, setup will exit. Your existing download data will be preserved.";

HWND ownerWindow(const Engine& e) {
  const int64_t value = toInt64Or(e.vars.getValue("WINDOWHANDLE"), 0);
  const HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(value));
  return value != 0 && IsWindow(window) ? window : nullptr;
}

class MessageBoxPrompts final : public MediaPrompts {
 public:
  ExtractionRetry retryExtraction(Engine& e) override {
    switch (MessageBoxW(ownerWindow(e), widen(kRetryText).c_str(), widen(kRetryCaption).c_str(),
                        MB_YESNOCANCEL | MB_ICONQUESTION | MB_SETFOREGROUND)) {
      case IDYES: return ExtractionRetry::FreshCopy;
      case IDNO: return ExtractionRetry::ExtractAgain;
      default: return ExtractionRetry::Cancel;
    }
  }
  void showFailure(Engine& e, const std::string& text) override {
    MessageBoxW(ownerWindow(e), widen(text).c_str(), widen(e.caption()).c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
  }
};

}  // namespace

MediaState& mediaState(Engine& engine) {
  if (!engine.media) engine.media = std::make_shared<MediaState>();
  return *engine.media;
}

MediaPrompts& mediaPrompts(Engine& engine) {
  MediaState& st = mediaState(engine);
  if (!st.prompts) st.prompts = messageBoxPrompts();
  return *st.prompts;
}

std::shared_ptr<MediaPrompts> messageBoxPrompts() { return std::make_shared<MessageBoxPrompts>(); }

}  // namespace orv
