// Progress shown by the running modeless page (normally "progress"): its bars and texts follow the
// progress variables once a second while a worker runs, and at once when the script sets PROGRESS or
// PROGRESSTEXT. The taskbar button mirrors the bar and the setup's state.
#pragma once
#include <cstdint>
#include <string_view>

#include "ui/page.h"

namespace orv {

struct Engine;

// UpdateProgressDisplay: "$ZORN$" as text takes text and numbers from the ZORN_th* variables. Returns
// the cancel state (ZORN_IsCancelled at entry); with reportCancel it is copied to ZORN_thCancelled.
bool updateProgressDisplay(Engine& engine, std::string_view text, bool reportCancel, int64_t minimum, int64_t maximum,
                           int64_t position);

// A page's one-second timer.
void progressTimerTick(Page& page);

// SetTaskbarAttention: paused (a question) or error while a box is up, and back.
void setTaskbarAttention(DialogRuntime& runtime, bool on, bool error);

// The taskbar attention state for as long as it lives: wrap every message box the engine shows during a
// run in one (error for failure messages, else a question). Without pages it does nothing.
class TaskbarAttention {
 public:
  TaskbarAttention(Engine& engine, bool error);
  ~TaskbarAttention();
  TaskbarAttention(const TaskbarAttention&) = delete;
  TaskbarAttention& operator=(const TaskbarAttention&) = delete;

 private:
  DialogRuntime* runtime_;
  bool error_;
};

}  // namespace orv
