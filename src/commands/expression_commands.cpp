// "Evaluate Expression" and "Mathematics": the evaluators live in the core; these handlers read the
// line and write the result variable.
#include "bootstrap/engine.h"
#include "core/expression.h"
#include "core/mathematics.h"
#include "script/commands.h"

namespace orv {
namespace {

// The result variable is named by the parameter as written (no dollar signs are stripped).
void evaluateExpressionCommand(CommandContext& line) {
  const std::string_view target = line.param(2);
  line.defineIfMissing(target);
  VariableStore& vars = line.engine().vars;
  const ExpressionResult result = evaluateExpandedExpression(vars, line.param(1));
  vars.updateVariable(target, expressionResultText(result), line.reason());
}

void mathematicsCommand(CommandContext& line) {
  const std::string_view target = line.param(4);
  line.defineIfMissing(target);
  Engine& e = line.engine();
  const std::string result = mathematics(e.random, line.expanded(1), line.expanded(2), line.param(3));
  if (!target.empty()) e.vars.updateVariable(target, result, line.reason());
}

const CommandEntry kExpressionCommands[] = {
    {"Evaluate Expression", evaluateExpressionCommand},
    {"Mathematics", mathematicsCommand},
};

}  // namespace

std::span<const CommandEntry> expressionCommands() { return kExpressionCommands; }

}  // namespace orv
