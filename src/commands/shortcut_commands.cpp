// "Create Shortcut" and "Create File Type": the handlers prepare the names, texts and paths; the native
// engine writes the link and the file-type keys. (The pin and shell-property lists are not kept yet.)
#include "bootstrap/engine.h"
#include "engines/native_commands.h"
#include "script/command.h"
#include "script/commands.h"

namespace orv {
namespace {

void createShortcut(CommandContext& c) {
  VariableStore& v = c.engine().vars;
  std::vector<std::string> prepared = {v.expand(c.localized(2, 1)), v.expand(c.localized(4, 2))};
  for (size_t parameter : {3, 1, 5, 6}) prepared.push_back(v.expandPath(textBeforeBar(c.param(parameter))));
  handInstallAction(c, "Create Shortcut", std::move(prepared));
}

void createFileType(CommandContext& c) {
  VariableStore& v = c.engine().vars;
  const std::string texts[] = {v.expand(c.localized(1, 1)), v.expand(c.param(2)), v.expand(c.localized(3, 2)),
                               v.expand(c.param(4)), v.expand(c.param(5))};
  std::vector<std::string> prepared;
  for (const std::string& text : texts) prepared.push_back(collapseBackslashes(text));
  handInstallAction(c, "Create File Type", std::move(prepared));
}

constexpr CommandEntry kShortcutCommands[] = {
    {"Create Shortcut", createShortcut},
    {"Create File Type", createFileType},
};

}  // namespace

std::span<const CommandEntry> shortcutCommands() { return kShortcutCommands; }

}  // namespace orv
