// TEMPORARY: stand-ins for the condition evaluator and the text and expression command families while
// they are being written; each compiles only while the real file is missing (rebuild this file if a
// link reports a duplicate after one lands). Only the basics the interpreter's own tests need. Delete
// this file once src/script/condition.cpp, src/commands/text_commands.cpp and
// src/commands/expression_commands.cpp exist.
#include "bootstrap/engine.h"
#include "core/text.h"
#include "script/commands.h"
#include "script/condition.h"

namespace orv {
namespace {

std::string variableName(std::string_view param) {
  std::string name = stripReference(param);
  return name.empty() ? std::string(param) : name;
}

void setVariable(CommandContext& line) {
  std::string_view p1 = line.param(1);
  p1 = p1.substr(0, p1.find("$ZORN$ZORN$"));
  const std::string name = variableName(p1);
  Engine& e = line.engine();
  if (!e.vars.exists(name)) e.vars.defineVariable(upper(name), "", line.reason());
  e.vars.updateVariable(name, line.expanded(2), line.reason());
}

void mathematics(CommandContext& line) {
  const int64_t a = toInt64Or(line.expanded(1), 0), b = toInt64Or(line.expanded(2), 0);
  int64_t r = 0;
  switch (toInt64Or(line.param(3), -1)) {
    case 0: r = a + b; break;
    case 1: r = a - b; break;
    case 2: r = a * b; break;
    default: break;
  }
  line.setResult(line.param(4), std::to_string(r));
}

[[maybe_unused]] const CommandEntry kText[] = {{"Set Variable", setVariable}};
[[maybe_unused]] const CommandEntry kExpression[] = {{"Mathematics", mathematics}};

}  // namespace

#if !__has_include("commands/text_commands.cpp")
std::span<const CommandEntry> textCommands() { return kText; }
#endif
#if !__has_include("commands/expression_commands.cpp")
std::span<const CommandEntry> expressionCommands() { return kExpression; }
#endif

#if !__has_include("script/condition.cpp")
bool lineConditionHolds(const CommandContext& line) {
  Engine& e = line.engine();
  const std::string_view code = line.param(2);
  bool result = false;
  if (code == "5") {
    result = e.vars.exists(line.param(1));
  } else {
    const std::string l = e.vars.expand(e.vars.getValue(variableName(line.param(1))));
    const std::string r = line.expanded(3);
    int64_t ln = 0, rn = 0;
    const bool numeric = parseInt64(l, ln) && parseInt64(r, rn);
    if (code == "0") result = numeric ? ln == rn : l == r;
    if (code == "2") result = numeric ? ln > rn : l > r;
    if (code == "4") result = numeric ? ln == rn : equalsNoCase(l, r);
    if (code == "6") {  // versions: a component before a "." must be an integer
      for (const std::string& v : {l, r}) {
        const auto parts = split(v, ".");
        for (size_t i = 0; i + 1 < parts.size(); ++i)
          if (int64_t n; !parseInt64(parts[i], n)) throw ScriptError("'" + parts[i] + "' is not a valid integer value");
      }
    }
  }
  return result != isTrueText(line.param(4));
}
#endif

}  // namespace orv
