#include "script/command.h"

#include "bootstrap/engine.h"
#include "core/text.h"
#include "script/interpreter_state.h"
#include "script/run_hooks.h"

namespace orv {

std::string_view CommandContext::command() const {
  return line_ >= 1 && line_ <= engine_.image.commands.size() ? std::string_view(engine_.image.commands[line_ - 1])
                                                               : std::string_view();
}

std::string_view CommandContext::param(size_t n) const {
  // While the script runs, the identifier's position was looked up once per line.
  if (const InterpreterState* run = engine_.interpreter.get(); run && run->script && line_ >= 1 &&
                                                               line_ <= run->script->param.lineCount())
    return run->script->param(line_ - 1, n);
  return engine_.index->parameterOfLine(line_ - 1, n);
}

std::string CommandContext::expanded(size_t n) const { return engine_.vars.expand(param(n)); }

std::string CommandContext::path(size_t n) const { return engine_.vars.expandPath(param(n)); }

std::string CommandContext::reason() const { return std::string(command()) + " Action"; }

void CommandContext::setResult(std::string_view nameParam, std::string_view value) const {
  engine_.vars.defineVariable(variableName(nameParam), value, reason());
}

std::string CommandContext::localized(size_t n, int k) const {
  if (engine_.vars.getValue("LANGUAGE").empty()) return std::string(param(n));
  return localizeText(engine_, param(n), param(0), k);
}

void CommandContext::defineIfMissing(std::string_view name) const {
  if (!name.empty() && !engine_.vars.exists(name)) engine_.vars.defineVariable(upper(name), "", reason());
}

std::string CommandContext::variableName(std::string_view nameParam) {
  std::string name = stripReference(nameParam);
  return name.empty() ? std::string(nameParam) : name;
}

}  // namespace orv
