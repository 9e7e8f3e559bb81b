#include "script/interpreter.h"

#include <windows.h>

#include <utility>

#include "bootstrap/engine.h"
#include "bootstrap/engine_cache.h"
#include "bootstrap/startup.h"
#include "bootstrap/trace.h"
#include "core/expression.h"
#include "core/text.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "script/commands.h"
#include "script/condition.h"
#include "script/interpreter_state.h"
#include "script/line_refresh.h"
#include "script/prologue.h"
#include "script/run_hooks.h"
#include "ui/dialog_pool.h"

namespace orv {
namespace {

constexpr uint64_t kPumpIntervalMs = 314;
constexpr std::string_view kScriptErrorMessage = "Runtime error in setup script:";

void pumpPendingMessages(Engine& engine) {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {  // keep it for whoever runs the real message loop
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (handlePageKeyboard(engine, msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

std::string loopVariableName(std::string_view param) {
  std::string name = stripReference(param);
  return name.empty() ? std::string(param) : name;
}

// The process exit code of "Terminate with Exit Code": a 32-bit integer, or 0.
int exitCodeOf(std::string_view text) {
  int64_t value = 0;
  if (!parseInt64(text, value) || value < INT32_MIN || value > INT32_MAX) return 0;
  return static_cast<int>(value);
}

// The root of the drive or share holding a folder, as GetDriveType wants it.
std::string driveRootOf(const std::string& folder) {
  if (folder.size() >= 2 && folder[1] == ':') return folder.substr(0, 2) + "\\";
  if (folder.rfind("\\\\", 0) == 0) {
    const size_t server = folder.find('\\', 2);
    const size_t share = server == std::string::npos ? server : folder.find('\\', server + 1);
    return share == std::string::npos ? withTrailingBackslash(folder) : folder.substr(0, share + 1);
  }
  return {};
}

[[noreturn]] void scanRanOff(std::string_view what) {
  throw ScriptError("List index out of bounds: no " + std::string(what) + " was found for this line.");
}

// The line walk of one run.
class Interpreter {
 public:
  Interpreter(Engine& engine, InterpreterState& state)
      : e_(engine), s_(state), script_(*state.script), flow_(script_.flow), refresh_(engine),
        lastPump_(GetTickCount64()) {}

  void walk() {
    const uint32_t count = flow_.lineCount();
    s_.currentLine = 0;
    while (s_.currentLine < count && !s_.ended) {
      keepInterfaceAlive();
      refresh_.settings();
      if (s_.skipToBranch) finishFalseCondition();
      if (s_.skipToEnd) finishTakenBranch();
      if (s_.wizardActive)
        navigateWizard();
      else
        s_.currentLine = flow_.stepAfter(s_.currentLine);
      if (s_.currentLine > count) break;
      if (flow_.disabled(s_.currentLine)) continue;
      refresh_.cancelState();
      refresh_.progress();
      execute(s_.currentLine);
    }
  }

 private:
  void keepInterfaceAlive() {
    const uint64_t now = GetTickCount64();
    if (now - lastPump_ <= kPumpIntervalMs) return;
    pumpPendingMessages(e_);
    lastPump_ = now;
  }

  // A false condition: continue at the block's next "Else" (after it), "Else If" (evaluated next) or
  // "End".
  void finishFalseCondition() {
    s_.skipToBranch = false;
    const uint32_t stop = flow_.branchAfter(s_.currentLine);
    if (stop == kNoLine) scanRanOff("\"Else\", \"Else If\" or \"End\"");
    s_.currentLine = stop;
    if (flow_.kind(stop) == LineKind::ElseIf) {
      s_.currentLine = stop - 1;
      s_.elseIfDue = true;
    } else if (flow_.kind(stop) == LineKind::End) {
      s_.currentLine = stop - 1;
    }
  }

  // The branch that ran has met its "Else"/"Else If": continue with the block's "End".
  void finishTakenBranch() {
    s_.skipToEnd = false;
    const uint32_t end = flow_.blockEndAfter(s_.currentLine);
    if (end == kNoLine) scanRanOff("\"End\"");
    s_.currentLine = end - 1;
  }

  void execute(uint32_t line) {
    CommandContext context(e_, line);
    const bool elseIfDue = std::exchange(s_.elseIfDue, false);
    if (std::string& state = s_.tables.lineActionStates[line - 1]; state == "FALSE") state = "TRUE";
    if (script_.plugin[line]) {
      runPluginCommand(context);
      return;
    }
    switch (flow_.kind(line)) {
      case LineKind::If:
        if (!lineConditionHolds(context)) s_.skipToBranch = true;
        break;
      case LineKind::ElseIf:
        if (!elseIfDue)
          s_.skipToEnd = true;  // the branch before it ran
        else if (!lineConditionHolds(context))
          s_.skipToBranch = true;
        break;
      case LineKind::Else: s_.skipToEnd = true; break;
      case LineKind::While: whileLine(context); break;
      case LineKind::Wend: wend(); break;
      case LineKind::Repeat: s_.loopStack.push_back(LineKind::Repeat); break;
      case LineKind::Until: until(context); break;
      case LineKind::ForEach: forEach(context); break;
      case LineKind::Next: s_.currentLine = openerBeforeCurrent(LineKind::Next, "\"For Each\"") - 1; break;
      case LineKind::Break: breakLoop(); break;
      case LineKind::Continue: continueLoop(); break;
      case LineKind::GoToLabel: goToLabel(context); break;
      case LineKind::WizardLoop: startWizard(line); break;
      case LineKind::TerminateInstall: s_.ended = true; break;
      case LineKind::TerminateWithExitCode:
        e_.exitCode = exitCodeOf(context.expanded(1));
        s_.ended = true;
        break;
      case LineKind::End:
      case LineKind::Label:
      case LineKind::Comment:
      case LineKind::Ignore: break;
      case LineKind::Other:
      case LineKind::DisplayDialog:
        if (const CommandHandler handler = script_.handlers[line]) handler(context);
        break;
    }
  }

  uint32_t closerAfterCurrent(LineKind closer, const char* name) const {
    const uint32_t line = flow_.closerAfter(s_.currentLine, closer);
    if (line == kNoLine) scanRanOff(name);
    return line;
  }

  uint32_t openerBeforeCurrent(LineKind closer, const char* name) const {
    const uint32_t line = flow_.openerBefore(s_.currentLine, openerOf(closer));
    if (line == kNoLine) scanRanOff(name);
    return line;
  }

  LineKind innermostLoop(const char* command) const {
    if (s_.loopStack.empty()) throw ScriptError(std::string(command) + " found no open loop.");
    return s_.loopStack.back();
  }

  void popLoop() {
    if (s_.loopStack.empty()) throw ScriptError("List index out of bounds: no loop is open.");
    s_.loopStack.pop_back();
  }

  void whileLine(const CommandContext& context) {
    if (lineConditionHolds(context))
      s_.loopStack.push_back(LineKind::While);
    else
      s_.currentLine = closerAfterCurrent(LineKind::Wend, "\"Wend\"");
  }

  void wend() {
    s_.currentLine = openerBeforeCurrent(LineKind::Wend, "\"While\"") - 1;  // the "While" is evaluated again
    popLoop();
  }

  void until(const CommandContext& context) {
    // Leaving or not, this pass of the loop is over; another "Repeat" pass opens its own entry.
    popLoop();
    if (!lineConditionHolds(context)) s_.currentLine = openerBeforeCurrent(LineKind::Until, "\"Repeat\"") - 1;
  }

  ForEachLoop* openForEach(const std::string& name) {
    for (auto it = s_.forEachLoops.rbegin(); it != s_.forEachLoops.rend(); ++it)
      if (equalsNoCase(it->variable, name)) return &*it;
    return nullptr;
  }

  void forEach(const CommandContext& context) {
    const std::string name = loopVariableName(context.param(1));
    ForEachLoop* loop = openForEach(name);
    if (!loop) {  // first arrival
      s_.loopStack.push_back(LineKind::ForEach);
      s_.forEachLoops.push_back({name, context.expanded(3), context.expanded(2)});
      loop = &s_.forEachLoops.back();
    }
    const std::string item = takeNextItem(*loop);
    if (!item.empty()) {
      context.setResult(name, item);
      return;
    }
    s_.currentLine = closerAfterCurrent(LineKind::Next, "\"Next\"");
    popLoop();
    s_.forEachLoops.pop_back();
    e_.vars.removeVariable(name);
  }

  // Separators in a row yield no empty items; an empty separator takes the whole list as one item.
  static std::string takeNextItem(ForEachLoop& loop) {
    const std::string& separator = loop.separator;
    std::string& list = loop.remaining;
    if (!separator.empty()) {
      size_t lead = 0;
      while (list.compare(lead, separator.size(), separator) == 0) lead += separator.size();
      list.erase(0, lead);
    }
    const size_t at = separator.empty() ? std::string::npos : list.find(separator);
    std::string item;
    if (at == std::string::npos) {
      item = std::move(list);
      list = separator;  // the next pass finds nothing
    } else {
      item = list.substr(0, at);
      list.erase(0, at + separator.size());
    }
    return item;
  }

  void breakLoop() {
    const LineKind loop = innermostLoop("Break");
    s_.currentLine = closerAfterCurrent(closerOf(loop), "closing line of the loop");
    if (loop == LineKind::ForEach && !s_.forEachLoops.empty()) {
      e_.vars.removeVariable(s_.forEachLoops.back().variable);
      s_.forEachLoops.pop_back();
    }
    popLoop();
  }

  void continueLoop() {
    const LineKind loop = innermostLoop("Continue");
    s_.currentLine = openerBeforeCurrent(closerOf(loop), "opening line of the loop") - 1;
    // "While" and "Repeat" open a new entry when executed again; "For Each" keeps its own.
    if (loop != LineKind::ForEach) popLoop();
  }

  void goToLabel(const CommandContext& context) {
    const std::string name = upper(context.param(1));
    const uint32_t label = flow_.labelLine(name);
    if (label == kNoLine) throw ScriptError("List index out of bounds: label " + name + " is not defined.");
    s_.currentLine = label - 1;
    s_.skipToBranch = s_.skipToEnd = s_.elseIfDue = s_.wizardActive = false;
  }

  bool skippedByWizard(uint32_t line) const { return flow_.disabled(line) || flow_.kind(line) == LineKind::Ignore; }

  uint32_t wizardEndAfter(uint32_t line) const {
    for (uint32_t k = line + 1; k <= flow_.lineCount(); ++k)
      if (!skippedByWizard(k) && flow_.kind(k) == LineKind::End) return k;
    scanRanOff("\"End\" of the wizard loop");
  }

  void startWizard(uint32_t line) {
    s_.wizardActive = true;
    s_.wizardDirection = 1;
    s_.wizardPosition = 0;
    s_.wizardDialogCount = 0;
    const uint32_t end = wizardEndAfter(line);
    for (uint32_t k = line + 1; k < end; ++k)
      if (!skippedByWizard(k) && flow_.kind(k) != LineKind::Comment) ++s_.wizardDialogCount;
  }

  // The "End" of the loop is executed next, outside the loop.
  void leaveWizard(uint32_t end) {
    s_.wizardActive = false;
    s_.currentLine = end;
  }

  void navigateWizard() {
    s_.wizardPosition += s_.wizardDirection;
    if (s_.wizardPosition == 0) s_.wizardPosition = 1;
    if (s_.wizardPosition > s_.wizardDialogCount) s_.wizardPosition = s_.wizardDialogCount;
    if (s_.wizardDirection == 0) return leaveWizard(wizardEndAfter(s_.currentLine));
    uint32_t line = s_.currentLine;
    for (;;) {
      line += s_.wizardDirection;
      if (line < 1 || line > flow_.lineCount()) scanRanOff("end of the wizard loop");
      if (skippedByWizard(line)) continue;
      switch (flow_.kind(line)) {
        case LineKind::DisplayDialog: s_.currentLine = line; return;
        case LineKind::End: return leaveWizard(line);
        case LineKind::WizardLoop: return leaveWizard(wizardEndAfter(line));
        default: break;
      }
    }
  }

  Engine& e_;
  InterpreterState& s_;
  const CompiledScript& script_;
  const ScriptFlow& flow_;
  LineRefresh refresh_;
  uint64_t lastPump_;
};

// The script-error message with the failing line's source position; not shown in a silent run.
void reportScriptError(Engine& e, uint32_t currentLine, const std::string& what) {
  if (isTrueText(e.vars.getValue("SILENT"))) return;
  std::string file;
  int64_t line = 0;
  if (currentLine >= 1) sourcePositionOf(e.image, currentLine - 1, file, line);
  const std::string text = std::string(kScriptErrorMessage) + "\r\rSource File: " + file +
                           "\rLine Number: " + std::to_string(line) + "\r\r" + what;
  MessageBoxW(nullptr, widen(text).c_str(), widen(e.caption()).c_str(), MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
}

InterpreterState& stateOf(const Engine& e) {
  if (!e.interpreter) throw ScriptError("No script is running.");
  return *e.interpreter;
}

void runEndOfRunCleanup(Engine& e, InterpreterState& s) {
  if (!s.singleInstanceMarker.empty()) DeleteFileW(widen(s.singleInstanceMarker).c_str());
  auto cleanups = std::move(s.cleanups);
  for (auto& cleanup : cleanups) {
    try {
      cleanup(e);
    } catch (...) {  // the run is over; one failing release must not stop the others
    }
  }
  s.loopStack.clear();
  s.forEachLoops.clear();
}

// The setup was started from a medium that is gone now (a removed disc or stick): nothing may be
// loaded from the program's folder any more, so the run ends here instead of in the main program.
void finishIfMediumRemoved(Engine& e) {
  const std::string exeDir = e.vars.getValue("EXEDIR");
  const std::string root = driveRootOf(exeDir);
  if (root.empty() || GetDriveTypeW(widen(root).c_str()) == DRIVE_FIXED || folderExists(exeDir)) return;
  Trace& t = *e.trace;
  finishEngineCache(e);
  t.line("  </RunScript>");
  t.line("  <Free>");
  t.line("  </Free>");
  t.line("  <CachedSupportDir>");
  const std::string& support = e.startup.supportFolder;
  for (int attempt = 0; attempt < 3 && !support.empty() && folderExists(support); ++attempt) deleteTree(support);
  t.line("  </CachedSupportDir>");
  t.line("  <RemovableMediaPrematureEject>");
  t.line("  </RemovableMediaPrematureEject>");
  t.line("</Orvane>");
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(e.exitCode));
}

// Checks the script; a rejected one ends the process at once, showing nothing.
void checkOrTerminate(Engine& e, InterpreterState& s, const LineParameters& parameters) {
  const ScriptCheck check = checkScript(e.image, *e.index, parameters, e.vars, s.tables, expressionParses);
  if (!check.accepted()) TerminateProcess(GetCurrentProcess(), kExitScriptRejected);
}

// True when this run may go on; false when another instance holds the marker.
bool claimSingleInstance(Engine& e, InterpreterState& s) {
  const std::string marker = singleInstanceMarker(e);
  if (marker.empty()) return true;
  if (fileExists(marker)) {
    e.terminateAtEnd = true;
    return false;
  }
  writeWholeFile(marker, "");
  s.singleInstanceMarker = marker;
  return true;
}

std::vector<std::string> commandLineNames(const Engine& e) {
  std::vector<std::string> names;
  for (const auto& assignment : e.startup.assignments) names.push_back(assignment.first);
  return names;
}

}  // namespace

CompiledScript::CompiledScript(const SetupImage& image, const ImageIndex& index, LineParameters parameters)
    : flow(image, index), param(std::move(parameters)) {
  const size_t count = image.lineCount();
  handlers.assign(count + 1, nullptr);
  plugin.assign(count + 1, 0);
  for (size_t i = 0; i < count; ++i) {
    handlers[i + 1] = findCommand(image.commands[i]);
    for (const std::string& name : image.pluginCommands) plugin[i + 1] |= name == image.commands[i];
  }
}

void runScript(Engine& e) {
  Trace& t = *e.trace;
  auto state = std::make_shared<InterpreterState>();
  e.interpreter = state;
  t.line("    <Variables>");
  t.line("    </Variables>");
  t.line("    <CompileScript>");
  LineParameters parameters(e.image, *e.index);
  checkOrTerminate(e, *state, parameters);
  t.line("    </CompileScript>");
  e.vars.clear();
  state->script = std::make_unique<CompiledScript>(e.image, *e.index, std::move(parameters));
  setEarlyVariables(e);
  t.line("    <BootStrap>");
  bootstrapMaintenance(e);
  t.line("    </BootStrap>");
  if (!claimSingleInstance(e, *state)) return;

  t.line("    <zorn>");
  // From here on every error ends the run with the script-error message.
  std::string error;
  try {
    e.vars.setCommandLineNames(commandLineNames(e));
    e.vars.setSilent(e.startup.silent);
    setPredefinedVariables(e);
    removeResumeEntries(e);
    chooseLanguage(e);
    injectCommandLine(e);
    Interpreter(e, *state).walk();
  } catch (const std::exception& failure) {
    error = failure.what();
    if (error.empty()) error = "Unknown error";
  } catch (...) {
    error = "Unknown error";
  }
  if (!error.empty()) {
    reportScriptError(e, state->currentLine, error);
    runEndOfRunCleanup(e, *state);
    return;
  }
  t.line("    </zorn>");
  t.line("    <ExitScript>");
  runEndOfRunCleanup(e, *state);
  t.line("    </ExitScript>");
  finishIfMediumRemoved(e);
}

void endScriptRun(Engine& engine) { stateOf(engine).ended = true; }

bool insideWizardLoop(const Engine& engine) { return engine.interpreter && engine.interpreter->wizardActive; }

void reportWizardAnswer(Engine& engine, DialogResult result) {
  InterpreterState& s = stateOf(engine);
  switch (result) {
    case DialogResult::Next: s.wizardDirection = 1; break;
    case DialogResult::Back: s.wizardDirection = -1; break;
    case DialogResult::Cancel: s.wizardDirection = 0; break;
    default: break;  // any other answer keeps the direction
  }
}

std::vector<std::string>& lineActionStates(Engine& engine) { return stateOf(engine).tables.lineActionStates; }

void atEndOfRun(Engine& engine, std::function<void(Engine&)> cleanup) {
  stateOf(engine).cleanups.push_back(std::move(cleanup));
}

}  // namespace orv
