// Installation commands that place the setup's files or register them with the system: "Install
// Files", "Install Assembly", "Install Service", "Control Service", "Install ODBC Driver" and "Create
// ODBC DSN". Each prepares its fields and hands the action to the installation engine.
#include "bootstrap/engine.h"
#include "engines/native_commands.h"
#include "engines/native_plan.h"
#include "media/acquire_media.h"
#include "script/command.h"
#include "script/commands.h"

namespace orv {
namespace {

// The kinds whose prepared fields are exactly the line's command header.
void headerOnly(CommandContext& c, std::string_view kind) {
  if (!acquireLineMedia(c.engine(), c.line())) return;  // the line's media block first (caching mode 2)
  std::vector<std::string> prepared;
  if (isNativeEngine(c.engine())) prepared.push_back(commandHeaderOf(c.engine(), c.line()));
  handInstallAction(c, kind, std::move(prepared));
}

void installFiles(CommandContext& c) { headerOnly(c, "Install Files"); }
void installAssembly(CommandContext& c) { headerOnly(c, "Install Assembly"); }
void installOdbcDriver(CommandContext& c) { headerOnly(c, "Install ODBC Driver"); }

void installService(CommandContext& c) {
  if (!acquireLineMedia(c.engine(), c.line())) return;
  std::vector<std::string> prepared;
  if (isNativeEngine(c.engine())) {
    prepared.push_back(commandHeaderOf(c.engine(), c.line()));
    const std::pair<size_t, int> texts[] = {{4, 1}, {5, 2}, {6, 3}, {9, 4}, {10, 5}};
    for (const auto& [parameter, k] : texts) prepared.push_back(c.engine().vars.expand(c.localized(parameter, k)));
  }
  handInstallAction(c, "Install Service", std::move(prepared));
}

void controlService(CommandContext& c) {
  handInstallAction(c, "Control Service", {c.engine().vars.expand(c.localized(1, 1))});
}

void createOdbcDsn(CommandContext& c) { handInstallAction(c, "Create ODBC DSN"); }

constexpr CommandEntry kInstallCommands[] = {
    {"Install Files", installFiles},         {"Install Assembly", installAssembly},
    {"Install Service", installService},     {"Control Service", controlService},
    {"Install ODBC Driver", installOdbcDriver}, {"Create ODBC DSN", createOdbcDsn},
};

}  // namespace

std::span<const CommandEntry> installCommands() { return kInstallCommands; }

}  // namespace orv
