// The registry-backed installation actions: "Write Registry" and "Set Environment".
#include "engines/native_commands.h"
#include "script/command.h"
#include "script/commands.h"

namespace orv {
namespace {

void writeRegistry(CommandContext& c) { handInstallAction(c, "Write Registry"); }
void setEnvironment(CommandContext& c) { handInstallAction(c, "Set Environment"); }

constexpr CommandEntry kRegistryActionCommands[] = {
    {"Write Registry", writeRegistry},
    {"Set Environment", setEnvironment},
};

}  // namespace

std::span<const CommandEntry> registryActionCommands() { return kRegistryActionCommands; }

}  // namespace orv
