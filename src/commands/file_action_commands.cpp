// The file and folder installation actions: "Create Folder", "Delete Files", "Copy/Move Local Files" and
// "Edit INI File". Their fields come from the line's parameters alone.
#include "engines/native_commands.h"
#include "script/command.h"
#include "script/commands.h"

namespace orv {
namespace {

void createFolder(CommandContext& c) { handInstallAction(c, "Create Folder"); }
void deleteFiles(CommandContext& c) { handInstallAction(c, "Delete Files"); }
void copyMoveLocalFiles(CommandContext& c) { handInstallAction(c, "Copy/Move Local Files"); }
void editIniFile(CommandContext& c) { handInstallAction(c, "Edit INI File"); }

constexpr CommandEntry kFileActionCommands[] = {
    {"Create Folder", createFolder},
    {"Delete Files", deleteFiles},
    {"Copy/Move Local Files", copyMoveLocalFiles},
    {"Edit INI File", editIniFile},
};

}  // namespace

std::span<const CommandEntry> fileActionCommands() { return kFileActionCommands; }

}  // namespace orv
