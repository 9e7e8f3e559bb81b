// Stand-ins for the work of subsystems not built yet; see run_hooks.h. Each does nothing, which is what
// a first-time run without languages, plug-ins or shown pages needs.
#include "script/run_hooks.h"

namespace orv {

void chooseLanguage(Engine&) {}
void applyLanguage(Engine&, std::string_view) {}
std::string localizeText(Engine&, std::string_view text, std::string_view, int) { return std::string(text); }
void runPluginCommand(CommandContext&) {}

}  // namespace orv
