// The interpreter's state for one run: the checked script with its control-flow map and resolved
// handlers, and the position and block bookkeeping of the line walk.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/script_check.h"
#include "core/script_check_flow.h"
#include "script/command.h"

namespace orv {

struct Engine;

// The script as the line walk uses it, resolved once after the check.
struct CompiledScript {
  CompiledScript(const SetupImage& image, const ImageIndex& index, LineParameters parameters);

  ScriptFlow flow;
  LineParameters param;                  // param(zero-based line, n)
  std::vector<CommandHandler> handlers;  // per line (1-based); null for no built-in command
  std::vector<uint8_t> plugin;           // per line: the command belongs to a plug-in
};

// One open "For Each": its variable, what remains of its list, and its separator.
struct ForEachLoop {
  std::string variable;
  std::string remaining;
  std::string separator;
};

struct InterpreterState {
  ScriptTables tables;
  std::unique_ptr<CompiledScript> script;

  uint32_t currentLine = 0;  // 1-based; 0 before the first line
  // A condition was false: before the next line, skip to the block's next "Else", "Else If" or "End".
  bool skipToBranch = false;
  // The taken branch ended at "Else"/"Else If": before the next line, skip to the block's "End".
  bool skipToEnd = false;
  // The next line is an "Else If" reached by the skip after a false condition: it is evaluated. An
  // "Else If" met in normal flow ends the branch that ran before it.
  bool elseIfDue = false;

  bool wizardActive = false;
  int wizardDirection = 1;  // -1 back, 0 leave, +1 next
  int wizardPosition = 0;   // ordinal of the current page, 1 ... wizardDialogCount
  int wizardDialogCount = 0;

  std::vector<LineKind> loopStack;  // kinds of the open loops' openers, innermost last
  std::vector<ForEachLoop> forEachLoops;

  bool ended = false;  // "Terminate Install" and its kin: stop after the current line
  std::vector<std::function<void(Engine&)>> cleanups;
  std::string singleInstanceMarker;  // the marker file this run created, if any
};

}  // namespace orv
