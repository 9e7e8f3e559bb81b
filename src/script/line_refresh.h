// The engine settings that follow script variables before every line (log path, silent flag, caption,
// cache override, language, maintenance links), DATE and TIME that follow the clock, ABORT that mirrors
// the cancel request, and the progress shown on a page. Every change is in force before the next line;
// the variables are reread only after one of them changed, and the clock is formatted once a second.
#pragma once
#include <cstdint>
#include <string>

#include <windows.h>

namespace orv {

struct Engine;

// DATE and TIME texts in the user's short date and long time formats, reformatted only when the
// second has changed; between seconds the check costs a tick-count read.
class ClockTexts {
 public:
  // True when the texts changed since the last call.
  bool update();
  const std::string& date() const { return date_; }
  const std::string& time() const { return time_; }

 private:
  uint64_t recheckAt_ = 0;  // tick count at which the second may have changed
  SYSTEMTIME shown_{};
  std::string date_, time_;
};

class LineRefresh {
 public:
  explicit LineRefresh(Engine& engine);

  void settings();     // engine settings, DATE and TIME
  void cancelState();  // ABORT from ZORN_IsCancelled
  void progress();     // PROGRESS and PROGRESSTEXT to the shown page

 private:
  void writeClock();
  void applySettings();

  Engine& e_;
  ClockTexts clock_;
  uint64_t settingsSeen_ = ~uint64_t(0);
  uint64_t cancelSeen_ = ~uint64_t(0);
  uint64_t progressSeen_ = ~uint64_t(0);
  std::string cacheOverride_, language_, progressText_;
  int64_t progress_ = 0;
};

}  // namespace orv
