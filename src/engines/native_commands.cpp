#include "engines/native_commands.h"

#include "bootstrap/engine.h"
#include "core/text.h"
#include "engines/native_plan.h"
#include "engines/native_state.h"
#include "script/command.h"
#include "script/interpreter.h"

namespace orv {

void handInstallAction(CommandContext& line, std::string_view kind, std::vector<std::string> prepared) {
  Engine& e = line.engine();
  if (!isNativeEngine(e)) {
    commandHeaderOf(e, line.line());  // a line the installer cannot find is a broken project
    return;
  }
  nativeState(e).prepared = std::move(prepared);
  if (!runOrQueueNativeAction(e, kind, line.line())) endScriptRun(e);
}

std::string collapseBackslashes(std::string_view expanded) {
  std::string collapsed = replaceAll(expanded, "\\\\", "\\", false);
  if (expanded.rfind("\\\\", 0) == 0) collapsed.insert(0, "\\");
  return collapsed;
}

std::string textBeforeBar(std::string_view text) { return std::string(text.substr(0, text.find('|'))); }

}  // namespace orv
