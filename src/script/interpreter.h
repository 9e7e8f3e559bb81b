// The interpreter: checks the script, runs its prologue and walks the lines on the main thread.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "script/dialog.h"

namespace orv {

struct Engine;

// Runs the whole script; returns when it has ended (normally or by a script error it reported).
// Exceptions before the first line (outside compilation errors) reach the caller. A rejected script
// ends the process at once with exit code 314.
void runScript(Engine& engine);

// For command handlers while the script runs.

// Ends the run after the current line, exactly as "Terminate Install" does (a failed immediate
// installation action, a cancelled command while ABORTONERROR is true, the reboot commands).
void endScriptRun(Engine& engine);

// Whether the current line runs inside a "Wizard Loop" (pages are then shown modally and their answer
// steers the loop).
bool insideWizardLoop(const Engine& engine);
// The answer of the page shown by the current line inside a wizard loop.
void reportWizardAnswer(Engine& engine, DialogResult result);

// The action state of every script line ("SKIP", "FALSE", or "TRUE" once the installing command ran);
// Apply Changes reads it. Empty outside a run.
std::vector<std::string>& lineActionStates(Engine& engine);

// Work done by the end-of-run cleanup (closing a text file left open, hiding the tray icon, releasing
// the wizard pages ...), in the order registered; also after a script error.
void atEndOfRun(Engine& engine, std::function<void(Engine&)> cleanup);

}  // namespace orv
