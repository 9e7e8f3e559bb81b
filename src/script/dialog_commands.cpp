// "Display Dialog" until the wizard page runtime exists: it does the command's bookkeeping (the skip
// condition, the result variable, WINDOWHANDLE, the answer to the wizard loop) and shows the page
// through Engine::showDialog when one is set; without it every page answers as in a silent run. The
// page runtime replaces this file with its own "Display Dialog".
#include "bootstrap/engine.h"
#include "core/text.h"
#include "script/commands.h"
#include "script/interpreter.h"

namespace orv {

namespace {

// A condition variable whose truth equals the skip value leaves the page out.
bool pageSkipped(const CommandContext& line) {
  const std::string_view condition = line.param(4);
  if (condition.empty()) return false;
  std::string name = stripReference(condition);
  if (name.empty()) name = std::string(condition);
  return isTrueText(line.engine().vars.getValue(name)) == isTrueText(line.param(6));
}

void displayDialog(CommandContext& line) {
  if (pageSkipped(line)) return;
  Engine& e = line.engine();
  const bool inWizard = insideWizardLoop(e);
  const bool modal = inWizard || isTrueText(line.param(3));
  DialogAnswer answer{modal ? DialogResult::Next : DialogResult::NotModal, {}};
  if (e.showDialog) answer = e.showDialog(line, modal);
  if (!inWizard) e.vars.defineVariable("WINDOWHANDLE", "0", line.reason());
  const std::string_view resultVariable = line.param(2);
  const std::string text = dialogResultText(answer);
  if (!resultVariable.empty() && !text.empty()) {
    if (!e.vars.exists(resultVariable)) e.vars.defineVariable(upper(resultVariable), "", line.reason());
    e.vars.updateVariable(resultVariable, text, line.reason());
  }
  if (inWizard) reportWizardAnswer(e, answer.result);
}

const CommandEntry kDialogCommands[] = {
    {"Display Dialog", displayDialog},
};

}  // namespace

std::span<const CommandEntry> dialogCommands() { return kDialogCommands; }

}  // namespace orv
