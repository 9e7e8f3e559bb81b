#include "script/commands.h"

#include <stdexcept>
#include <string>
#include <unordered_map>

namespace orv {
namespace {

using Registry = std::unordered_map<std::string_view, CommandHandler>;

// Every family's table in one map; a name registered twice is a programming error caught at the first
// look-up, in every build.
Registry buildRegistry() {
  Registry registry;
  for (std::span<const CommandEntry> family : {textCommands(), expressionCommands(), dialogCommands(), installCommands(),
                                                 fileActionCommands(), registryActionCommands(), shortcutCommands(),
                                                 applyCommands(), mediaCommands(), componentCommands()}) {
    for (const CommandEntry& entry : family) {
      if (!registry.emplace(entry.name, entry.handler).second)
        throw std::logic_error("Command registered twice: " + std::string(entry.name));
    }
  }
  return registry;
}

}  // namespace

CommandHandler findCommand(std::string_view name) {
  static const Registry registry = buildRegistry();
  const auto it = registry.find(name);
  return it == registry.end() ? nullptr : it->second;
}

}  // namespace orv
