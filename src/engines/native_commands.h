// What every installation command's handler does once its fields are prepared: with the native engine,
// run or queue the action (a failed immediate action ends the run); in Windows Installer mode the
// line's command header must exist, and the installer engine reads the line when it builds its
// property list.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace orv {

class CommandContext;

// Hands the current line's action of `kind` on. `prepared` becomes the action's prepared fields.
void handInstallAction(CommandContext& line, std::string_view kind, std::vector<std::string> prepared = {});

// Doubled backslashes collapsed (a leading pair kept), as path normalization does after expansion.
std::string collapseBackslashes(std::string_view expanded);
std::string textBeforeBar(std::string_view text);

}  // namespace orv
