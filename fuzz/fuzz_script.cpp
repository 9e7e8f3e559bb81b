// The start-up check and the control-flow map over arbitrary scripts: one line per input line, the
// command and its parameters separated by "|", a leading "//" disabling the line. Every script is
// either accepted or rejected with a message; the flow map answers every start without failing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/script_check.h"
#include "core/script_check_flow.h"
#include "core/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  orv::SetupImage image;
  size_t index = 0;
  for (const std::string& line : orv::split(text, "\n")) {
    if (index >= 2000) break;
    std::vector<std::string> fields = orv::split(line, "|");
    const std::string id = "{ID" + std::to_string(index++) + "}";
    std::string command = fields[0];
    const bool disabled = command.rfind("//", 0) == 0;
    image.commands.push_back(disabled ? command.substr(2) : command);
    image.disabled.push_back(disabled ? "C" : "");
    image.lineIds.push_back(id);
    image.sourcePositions.push_back("fuzz*" + std::to_string(index));
    image.parameters.push_back(id);
    image.parameters.insert(image.parameters.end(), fields.begin() + 1, fields.end());
  }
  const orv::ImageIndex imageIndex(image);
  orv::VariableStore vars;
  orv::ScriptTables tables;
  const orv::ScriptCheck check = orv::checkScript(image, imageIndex, vars, tables);
  if (check.accepted() != (check.result == orv::kScriptAccepted) || check.message.empty()) __builtin_trap();
  if (tables.lineActionStates.size() > image.lineCount()) __builtin_trap();
  const orv::ScriptFlow flow(image, imageIndex);
  for (uint32_t line = 0; line <= flow.lineCount() + 1; ++line) {
    if (flow.stepAfter(line) <= line) __builtin_trap();
    const uint32_t stops[] = {flow.branchAfter(line), flow.blockEndAfter(line),
                              flow.closerAfter(line, orv::LineKind::Wend), flow.closerAfter(line, orv::LineKind::Next)};
    for (uint32_t stop : stops)
      if (stop != orv::kNoLine && (stop <= line || stop > flow.lineCount())) __builtin_trap();
    const uint32_t back = flow.openerBefore(line, orv::LineKind::Repeat);
    if (back != orv::kNoLine && back >= line) __builtin_trap();
  }
  return 0;
}
