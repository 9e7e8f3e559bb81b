#include "core/script_check.h"

#include <array>
#include <functional>
#include <optional>
#include <unordered_map>

#include "core/text.h"

namespace orv {
namespace {

constexpr std::string_view kCompilationReason = "Compilation";
constexpr std::string_view kKeepMarker = "$ZORN$ZORN$";
constexpr std::string_view kVariableRequired = "Variable required";
constexpr std::string_view kVariableNotDefined = "Variable not defined: ";

// Names the engine defines before the first line, declared so the checks find them. The three
// ZORN_COMPRESSCACHE-style names differ from the run-time variables on purpose: a condition on a
// run-time name must be declared by the script itself.
constexpr std::string_view kPredeclared[] = {
    "CHARSET_OVERRIDE", "ZORN_TIMEOUT", "GPOPATH", "SETUPPATH", "NATIVE_ENGINE", "NATIVE_OLDLOG", "NATIVE_LOGGING",
    "NATIVE_ROLLBACK", "NATIVE_ERROR", "NATIVE_OVERWRITE", "NATIVE_OVERWRITE_OLDER", "NATIVE_OVERRIDE_PERMISSIONS",
    "NATIVE_OVERRIDE_NON_RESTORABLE_PERMISSIONS", "NATIVE_PROGRESS", "DELAYUNTIL_APPLYCHANGES", "ZORN_COMPRESSCACHE",
    "ZORN_DISABLEROLLBACK", "ZORN_DISABLEVISTARESTARTMANAGER", "IISHOST", "OVERRIDECACHE", "ZORNLOGO", "TIME",
    "DATE", "NEWINSTANCE", "SELECTED", "WINDOWHANDLE", "EXEDIR", "EXEFILE", "UNINSTALLLINK", "ENGINECACHE",
    "COPYWEBLOCK", "ABORT", "SILENT", "LOGGED", "CMDLINE", "REBOOTNOW", "SFXPATH", "SFXFILE", "LASTERROR",
    "PROGRESSMODE", "CUSTOM_TASKBAR_PROGRESS_ENABLED", "CUSTOM_TASKBAR_PROGRESS_PERCENT",
    "CUSTOM_TASKBAR_PROGRESS_MAX", "PROGRESSTEXT", "PROGRESS", "LICENSE", "USERNAME", "USERCOMPANY",
    "REBOOTCOMPUTER", "RUNAPP", "WIZARD", "VERSION", "TARGETDIR", "STARTMENU", "ADVERTISE", "ALLUSERS", "COMPLETE",
    "MINIMUM", "PERSONALIZED", "GLASS", "MODIFY", "REPAIR", "REMOVE", "DATADIR", "PRODUCTCODE", "REVISIONCODE",
    "ROOTDIR", "MAINTENANCE", "NEWLINE", "NEEDSUPGRADE", "RECOMMENDEDUPGRADE", "TITLE", "COMPANY", "TEMPDIR",
    "SUPPORTDIR", "MSIFILE", "LANGUAGE", "ABORTONERROR", "ABORTEDONERROR", "SAVEDATA"};

// An error of one check: the message and the line it belongs to.
struct CheckFailure {
  int64_t result;
  std::string message;
};

[[noreturn]] void fail(int64_t result, std::string message) { throw CheckFailure{result, std::move(message)}; }

// Only existence is checked later (the store is cleared after the check), so a name declared again
// needs no second write.
void declare(VariableStore& vars, std::string_view name) {
  if (!name.empty() && !vars.exists(name)) vars.defineVariable(upper(name), "", kCompilationReason);
}

bool enabled(const ImageIndex& index, size_t i) { return !index.isDisabled(i); }

// Pass 1: every block closes the kind it opened, at the nesting of the other kinds it opened in.
class BlockStructure {
 public:
  BlockStructure(const SetupImage& image, const ImageIndex& index, const LineParameters& params)
      : image_(image), index_(index), params_(params) {}

  void run() {
    for (size_t i = 0; i < image_.lineCount(); ++i) {
      if (!enabled(index_, i)) continue;
      line_ = int64_t(i);
      const std::string& command = image_.commands[i];
      visit(command, command == "For Each" ? params_(i, 1) : std::string_view());
    }
  }

  // Pass 2.
  void checkCounts() const {
    if (opened_ > ends_) fail(kBlockCountMismatch, "Insufficient END statements");
    if (opened_ < ends_) fail(kBlockCountMismatch, "Too many END statements");
    checkPair(whiles_, wends_, "WEND");
    checkPair(repeats_, untils_, "UNTIL");
    checkPair(forEaches_, nexts_, "NEXT");
  }

 private:
  using Depths = std::array<int, 3>;

  static void checkPair(int opened, int closed, const std::string& closer) {
    if (opened > closed) fail(kBlockCountMismatch, "Insufficient " + closer + " statements");
    if (opened < closed) fail(kBlockCountMismatch, "Too many " + closer + " statements");
  }

  void close(std::vector<Depths>& stack, const Depths& now, const char* crossed, const char* unopened) {
    if (stack.empty()) fail(line_, unopened);
    if (stack.back() != now) fail(line_, crossed);
    stack.pop_back();
  }

  bool anyLoopOpen() const { return whiles_ != wends_ || repeats_ != untils_ || forEaches_ != nexts_; }

  void visit(std::string_view command, std::string_view param1) {
    if (command == "If") {
      ++opened_, ++depth_, wizard_ = false, ++ifDepth_;
      ifStack_.push_back({whileDepth_, repeatDepth_, forEachDepth_});
    } else if (command == "Wizard Loop") {
      ++opened_, ++depth_, wizard_ = true;
    } else if (command == "End") {
      ++ends_, --depth_;
      if (wizard_) return;  // the flag stays on until the next "If"
      --ifDepth_;
      close(ifStack_, {whileDepth_, repeatDepth_, forEachDepth_}, "IF conditional closed outside of LOOP scope",
            "IF conditional closed outside of IF conditional scope");
    } else if (command == "Break" || command == "Continue") {
      if (!anyLoopOpen()) fail(line_, std::string(command) + " not allowed outside of LOOP scope");
    } else if (command == "While") {
      ++whiles_, ++depth_, ++whileDepth_;
      whileStack_.push_back({ifDepth_, repeatDepth_, forEachDepth_});
    } else if (command == "Wend") {
      ++wends_, --depth_, --whileDepth_;
      close(whileStack_, {ifDepth_, repeatDepth_, forEachDepth_},
            "WHILE loop closed outside of CONDITIONAL or REPEAT or FOR EACH loop scope",
            "WHILE loop closed outside of WHILE loop scope");
    } else if (command == "Repeat") {
      ++repeats_, ++depth_, ++repeatDepth_;
      repeatStack_.push_back({ifDepth_, whileDepth_, forEachDepth_});
    } else if (command == "Until") {
      ++untils_, --depth_, --repeatDepth_;
      close(repeatStack_, {ifDepth_, whileDepth_, forEachDepth_},
            "REPEAT loop closed outside of CONDITIONAL or WHILE or FOR EACH loop scope",
            "REPEAT loop closed outside of REPEAT loop scope");
    } else if (command == "For Each") {
      for (const std::string& v : loopVariables_)
        if (equalsNoCase(v, param1)) fail(line_, "FOR EACH variable re-used inside nested FOR EACH loop");
      loopVariables_.emplace_back(param1);
      ++forEaches_, ++depth_, ++forEachDepth_;
      forEachStack_.push_back({ifDepth_, repeatDepth_, whileDepth_});
    } else if (command == "Next") {
      ++nexts_, --depth_, --forEachDepth_;
      close(forEachStack_, {ifDepth_, repeatDepth_, whileDepth_},
            "FOR EACH loop closed outside of CONDITIONAL or REPEAT or WHILE loop scope",
            "FOR EACH loop closed outside of FOR EACH loop scope");
      if (!loopVariables_.empty()) loopVariables_.pop_back();
    } else if (command == "Label") {
      if (depth_ != 0) fail(line_, "LABEL statements cannot be nested inside loops/conditionals");
    }
  }

  const SetupImage& image_;
  const ImageIndex& index_;
  const LineParameters& params_;
  int64_t line_ = 0;
  int opened_ = 0, ends_ = 0, whiles_ = 0, wends_ = 0, repeats_ = 0, untils_ = 0, forEaches_ = 0, nexts_ = 0;
  int depth_ = 0, ifDepth_ = 0, whileDepth_ = 0, repeatDepth_ = 0, forEachDepth_ = 0;
  bool wizard_ = false;
  std::vector<Depths> ifStack_, whileStack_, repeatStack_, forEachStack_;
  std::vector<std::string> loopVariables_;
};

// Pass 3: label names are unique without regard to case, disabled lines included.
void collectLabels(const SetupImage& image, const LineParameters& params, std::vector<std::string>& names) {
  for (size_t i = 0; i < image.lineCount(); ++i) {
    if (image.commands[i] != "Label") continue;
    const std::string_view label = params(i, 1);
    std::string key = upper(label);
    for (const std::string& known : names)
      if (known == key) fail(int64_t(i), "LABEL re-defined: " + std::string(label));
    names.push_back(std::move(key));
  }
}

// Pass 4: a kept "Set Variable" (name, marker, "TRUE") declares its variable for the whole script.
void declareKeptVariables(const SetupImage& image, const LineParameters& params, VariableStore& vars) {
  for (size_t i = 0; i < image.lineCount(); ++i) {
    if (image.commands[i] != "Set Variable") continue;
    const std::string_view p1 = params(i, 1);
    const size_t marker = p1.find(kKeepMarker);
    if (marker == std::string_view::npos) continue;
    const std::string_view name = p1.substr(0, marker);
    if (p1.substr(marker + kKeepMarker.size()) == "TRUE" && !vars.exists(name)) declare(vars, name);
  }
}

// Pass 5: the rules of single commands, applied to one line.
class LineRules {
 public:
  LineRules(const LineParameters& params, VariableStore& vars, std::vector<std::string>& loopVariables,
            std::string& actionState, size_t line, ExpressionSyntaxCheck expressionParses)
      : params_(params), vars_(vars), loopVariables_(loopVariables), actionState_(actionState), line_(line),
        expressionParses_(expressionParses) {}

  std::string_view param(size_t k) const { return params_(line_, k); }
  const VariableStore& vars() const { return vars_; }
  [[noreturn]] void error(std::string message) const { fail(int64_t(line_), std::move(message)); }

  void required(size_t k) const { requiredName(param(k)); }
  void requiredName(std::string_view name) const {
    if (name.empty()) error(std::string(kVariableRequired));
    declare(vars_, name);
  }
  void optional(size_t k) const { declare(vars_, param(k)); }
  void defined(size_t k) const {
    if (!vars_.exists(param(k))) error(std::string(kVariableNotDefined) + std::string(param(k)));
  }
  void installing() const { actionState_ = "FALSE"; }

  void condition() const {
    const std::string_view variable = param(1), value = param(3);
    if (variable.empty()) error(std::string(kVariableRequired));
    if (param(2) == "5") return;  // "is defined" reads no operand
    std::optional<std::string_view> missing;
    if (!vars_.isReferenceDefined(variable, false)) missing = variable;
    if (!vars_.isReferenceDefined(value, true)) missing = value;
    if (missing) error(std::string(kVariableNotDefined) + std::string(*missing));
  }

  void expression() const {
    required(2);
    if (!expressionParses_) return;
    std::string text(param(1));
    for (char& c : text)
      if (c == '$') c = '"';
    if (!expressionParses_(text))
      error("Syntax error in expression. Please review the help topic \"Evaluate Expression\" for the correct syntax.");
  }

  void openLoopVariable() const {
    const std::string_view name = param(1);
    if (name.empty()) error(std::string(kVariableRequired));
    if (vars_.exists(name)) error("FOR EACH variable previously defined outside FOR EACH loop");
    declare(vars_, name);
    loopVariables_.emplace_back(name);
  }

  void closeLoopVariable() const {
    if (loopVariables_.empty()) return;
    vars_.removeVariable(loopVariables_.back());
    loopVariables_.pop_back();
  }

 private:
  const LineParameters& params_;
  VariableStore& vars_;
  std::vector<std::string>& loopVariables_;
  std::string& actionState_;
  size_t line_;
  ExpressionSyntaxCheck expressionParses_;
};

using Rule = std::function<void(const LineRules&)>;

Rule required(size_t k) {
  return [k](const LineRules& l) { l.required(k); };
}
Rule optional(size_t k) {
  return [k](const LineRules& l) { l.optional(k); };
}
Rule defined(size_t k) {
  return [k](const LineRules& l) { l.defined(k); };
}
Rule installing() {
  return [](const LineRules& l) { l.installing(); };
}

bool holdsFileNameForbidden(std::string_view name) {
  return name.find_first_of("\\/:*?\"<>|") != std::string_view::npos;
}

const std::unordered_map<std::string_view, Rule>& commandRules() {
  static const std::unordered_map<std::string_view, Rule> rules = [] {
    std::unordered_map<std::string_view, Rule> r = {
        {"Web Media Block",
         [](const LineRules& l) {
           if (!l.param(1).empty() && l.param(2).empty())
             l.error("Web Media Block must have at least one download URL");
           if (holdsFileNameForbidden(l.param(1))) l.error("Web Media Block name must be a legal file name");
         }},
        {"Get Folder Location", required(1)},
        {"Mathematics",
         [](const LineRules& l) {
           if (l.param(4).empty() && l.param(3) != "13" && l.param(3) != "14") l.error(std::string(kVariableRequired));
           l.optional(4);
         }},
        {"Is MSI Setup Installed", required(2)},
        {"Get INI File Settings", required(1)},
        {"Get XML File Settings", required(1)},
        {"Evaluate XPath Query", required(3)},
        {"Extract 7Zip Archive", optional(3)},
        {"Run Light Mode Setup", optional(2)},
        {"Read from Text File",
         [](const LineRules& l) {
           l.required(2);
           l.optional(3);
         }},
        {"Parse String",
         [](const LineRules& l) {
           if (l.param(3).empty() && l.param(4).empty()) l.error(std::string(kVariableRequired));
           l.optional(3);
           l.optional(4);
         }},
        {"Check File Version", required(1)},
        {"Delete Files",
         [](const LineRules& l) {
           if (!isTrueText(l.param(3)) && !isTrueText(l.param(4)))
             l.error("At least one delete mode must be selected");
           l.installing();
         }},
        {"Install Files",
         [](const LineRules& l) {
           if (l.param(3).empty())
             l.error("A target folder must be specified for files that are being installed.\r"
                     "The value $TARGETDIR$ represents the destination folder chosen by the user.");
           l.installing();
         }},
        {"Convert Path", defined(1)},
        {"Convert Case", defined(1)},
        {"Extract Path", defined(1)},
        {"Replace String", defined(1)},
        {"Get System Settings", required(1)},
        {"Get OS or SP Level", required(1)},
        {"Evaluate Expression", [](const LineRules& l) { l.expression(); }},
        {"Read Registry", required(1)},
        {"Check Registry", required(1)},
        {"Find All Registry", required(1)},
        {"Does File/Folder Exist", required(1)},
        {"Run Program", optional(4)},
        {"Run Program As", optional(8)},
        {"Set Variable",
         [](const LineRules& l) {
           const std::string_view p1 = l.param(1);
           l.requiredName(p1.substr(0, p1.find(kKeepMarker)));
         }},
        {"Localization Variable", required(1)},
        {"Get Temporary File", required(1)},
        {"Get IIS Property", required(1)},
        {"Get File Version", required(2)},
        {"Get Environment", required(2)},
        {"Get IIS Site Index", required(2)},
        {"Get IIS Site List", required(1)},
        {"Find All Files", required(4)},
        {"Check Disk Space", required(1)},
        {"For Each", [](const LineRules& l) { l.openLoopVariable(); }},
        {"Next", [](const LineRules& l) { l.closeLoopVariable(); }},
        {"MessageBox", optional(5)},
        {"Check Service", required(3)},
        {"Check Process", required(2)},
        {"Terminate Process", optional(2)},
        {"Register Library", optional(3)},
        {"Apply Changes", optional(2)},
        {"Apply Patch", optional(1)},
        {"Display Dialog",
         [](const LineRules& l) {
           if (l.param(1).empty()) l.error("Dialog name not specified");
           l.optional(2);
           const std::string_view condition = l.param(4);
           if (!condition.empty() && !l.vars().isReferenceDefined(condition, false))
             l.error(std::string(kVariableNotDefined) + std::string(condition));
         }},
        {"Get Component State", required(2)},
        {"Get Component Space", required(2)},
        {"System Restore",
         [](const LineRules& l) {
           if (isTrueText(l.param(1))) l.required(3);
         }},
        {"IIS Anonymous User", required(1)},
    };
    for (std::string_view c : {"If", "Else If", "While", "Until"})
      r.emplace(c, [](const LineRules& l) { l.condition(); });
    for (std::string_view c :
         {"Copy/Move Local Files", "Create Folder", "Create Shortcut", "Advertised Shortcut", "Edit INI File",
          "Install Assembly", "Set Environment", "Install Service", "Install ODBC Driver", "Create ODBC DSN",
          "Control Service", "Write Registry", "Create File Type", "Advertised File Type"})
      r.emplace(c, installing());
    return r;
  }();
  return rules;
}

void checkCommands(const SetupImage& image, const ImageIndex& index, const LineParameters& params, VariableStore& vars,
                   ScriptTables& tables,
                   ExpressionSyntaxCheck expressionParses) {
  const auto& rules = commandRules();
  std::vector<std::string> loopVariables;
  tables.lineActionStates.reserve(image.lineCount());
  for (size_t i = 0; i < image.lineCount(); ++i) {
    tables.lineActionStates.emplace_back("SKIP");
    const std::string& command = image.commands[i];
    if (!enabled(index, i) || command == "Comment") continue;
    if (command == "GoTo Label") {
      const std::string_view label = params(i, 1);
      const std::string key = upper(label);
      bool known = false;
      for (const std::string& name : tables.labelNames) known = known || name == key;
      if (!known) fail(int64_t(i), "LABEL undefined: " + std::string(label));
      continue;
    }
    const auto rule = rules.find(command);
    if (rule == rules.end()) continue;
    rule->second(LineRules(params, vars, loopVariables, tables.lineActionStates.back(), i, expressionParses));
  }
}

// Pass 6: a wizard loop holds dialogs only.
void checkWizardLoops(const SetupImage& image, const ImageIndex& index) {
  bool inside = false;
  for (size_t i = 0; i < image.lineCount(); ++i) {
    if (!enabled(index, i)) continue;
    const std::string& command = image.commands[i];
    if (command == "Wizard Loop") {
      inside = true;
    } else if (inside && command == "End") {
      inside = false;
    } else if (inside && command != "Display Dialog" && command != "Comment" && command != "Ignore") {
      fail(int64_t(i), "Statements other than DISPLAY DIALOG not allowed inside WIZARD LOOP");
    }
  }
}

}  // namespace

std::string ScriptCheck::report() const {
  if (sourceFile.empty() || sourceLine <= 0) return message;
  return sourceFile + ":" + std::to_string(sourceLine) + ": " + message;
}

bool sourcePositionOf(const SetupImage& image, size_t lineIndex, std::string& file, int64_t& line) {
  if (lineIndex >= image.sourcePositions.size()) return false;
  const std::string& entry = image.sourcePositions[lineIndex];
  const size_t star = entry.rfind('*');
  int64_t zeroBased = 0;
  if (star == std::string::npos || !parseInt64(std::string_view(entry).substr(star + 1), zeroBased) || zeroBased < 0)
    return false;
  file = entry.substr(0, star);
  line = zeroBased + 1;
  return true;
}

LineParameters::LineParameters(const SetupImage& image, const ImageIndex& index)
    : parameters_(&image.parameters), base_(image.lineCount()) {
  for (size_t i = 0; i < base_.size(); ++i) base_[i] = index.parameterPosition(i);
}

ScriptCheck checkScript(const SetupImage& image, const ImageIndex& index, VariableStore& declarations,
                        ScriptTables& tables, ExpressionSyntaxCheck expressionParses) {
  return checkScript(image, index, LineParameters(image, index), declarations, tables, expressionParses);
}

ScriptCheck checkScript(const SetupImage& image, const ImageIndex& index, const LineParameters& params,
                        VariableStore& declarations, ScriptTables& tables, ExpressionSyntaxCheck expressionParses) {
  tables = ScriptTables{};
  declarations.clear();
  for (std::string_view name : kPredeclared) declare(declarations, name);
  ScriptCheck check;
  try {
    BlockStructure blocks(image, index, params);
    blocks.run();
    blocks.checkCounts();
    collectLabels(image, params, tables.labelNames);
    declareKeptVariables(image, params, declarations);
    checkCommands(image, index, params, declarations, tables, expressionParses);
    checkWizardLoops(image, index);
  } catch (const CheckFailure& failure) {
    check.result = failure.result;
    check.message = failure.message;
    if (check.line() > 0) sourcePositionOf(image, check.line() - 1, check.sourceFile, check.sourceLine);
  }
  return check;
}

}  // namespace orv
