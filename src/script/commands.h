// The one registry of built-in commands: every command family exports a table of {name, handler}, and
// the registry builds the dispatch map from all of them. The interpreter never switches on names.
#pragma once
#include <span>
#include <string_view>

#include "script/command.h"

namespace orv {

// Each family's table (one file per family under src/commands/).
std::span<const CommandEntry> textCommands();        // string and variable commands
std::span<const CommandEntry> expressionCommands();  // "Evaluate Expression", "Mathematics"
std::span<const CommandEntry> dialogCommands();      // "Display Dialog" (the wizard page runtime)
// Installation actions handed to the installation engines.
std::span<const CommandEntry> installCommands();         // files, assemblies, services, ODBC
std::span<const CommandEntry> fileActionCommands();      // folders, deletions, copies, INI files
std::span<const CommandEntry> registryActionCommands();  // "Write Registry", "Set Environment"
std::span<const CommandEntry> shortcutCommands();        // "Create Shortcut", "Create File Type"
std::span<const CommandEntry> applyCommands();           // "Apply Changes", "Apply Patch", "Set 64 Bit Mode", "Transform Instance"
std::span<const CommandEntry> mediaCommands();           // "Web Media Block", "Extract 7Zip Archive"
std::span<const CommandEntry> componentCommands();       // components and feature selections

// The handler for a command name, or null when no built-in command has that name.
CommandHandler findCommand(std::string_view name);

}  // namespace orv
