// "Display Dialog" and "Hide Dialog". The command does the line's bookkeeping (the skip condition, the
// result variable, WINDOWHANDLE, the answer to the wizard loop); the page itself is filled and shown by
// the presenter that the page runtime installs (Engine::showDialog). Without one every page answers as
// in a silent run.
#include "bootstrap/engine.h"
#include "core/text.h"
#include "script/commands.h"
#include "script/interpreter.h"
#include "ui/dialog_pool.h"

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
  // A modeless page is the running progress window; a silent run shows none and keeps "0".
  if (!inWizard) e.vars.defineVariable("WINDOWHANDLE", modal ? "0" : std::to_string(answer.window), line.reason());
  const std::string_view resultVariable = line.param(2);
  const std::string text = dialogResultText(answer);
  if (!resultVariable.empty() && !text.empty()) {
    if (!e.vars.exists(resultVariable)) e.vars.defineVariable(upper(resultVariable), "", line.reason());
    e.vars.updateVariable(resultVariable, text, line.reason());
  }
  if (inWizard) reportWizardAnswer(e, answer.result);
}

void hideDialog(CommandContext& line) { hideDialogs(line.engine()); }

const CommandEntry kDialogCommands[] = {
    {"Display Dialog", displayDialog},
    {"Hide Dialog", hideDialog},
};

}  // namespace

std::span<const CommandEntry> dialogCommands() { return kDialogCommands; }

}  // namespace orv
