// Work of other subsystems that the interpreter triggers at fixed points of a run. Each owning
// subsystem provides its function; until then run_hooks_pending.cpp holds versions that do nothing
// (delete a function there when writing the real one).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

struct Engine;
class CommandContext;

// Engine cache and instance data (maintenance).
// Prologue, between the "<BootStrap>" trace lines: read the instance data of an installed product and
// detect maintenance mode (PRODUCTCODE, REVISIONCODE, UNINSTALLLINK, ENGINECACHE, MAINTENANCE ...).
void bootstrapMaintenance(Engine& engine);
// Prologue, after the predefined variables: remove the resume entries of an interrupted setup.
void removeResumeEntries(Engine& engine);
// Before a line, when OVERRIDECACHE differs from the value seen last.
void applyCacheOverride(Engine& engine, std::string_view folder);
// Before a line, after a watched setting changed: recompute UNINSTALLLINK and ENGINECACHE from ALLUSERS.
void refreshMaintenanceLinks(Engine& engine);

// Language.
// Prologue, after the resume entries: offer the language dialog or take the preselected language.
void chooseLanguage(Engine& engine);
// Before a line, when LANGUAGE differs from the value seen last: load its translations.
void applyLanguage(Engine& engine, std::string_view language);
// The translation of the k-th localizable text of the thing named by key (a script line's identifier),
// or the text itself; commands call it only while LANGUAGE is set.
std::string localizeText(Engine& engine, std::string_view text, std::string_view key, int k);

// Native engine.
// "Set Variable" gives NATIVE_LOGGING a value other than its current one: the undo log follows it
// (flushing pending records first). Returns the value to store; a location the log cannot use gives
// the empty text (the default location).
std::string nativeLoggingChanging(Engine& engine, std::string_view value);

// Wizard pages: before a line, when PROGRESS or PROGRESSTEXT changed, while a page is shown; and at once
// when "Set Variable" writes either of them.
void refreshProgressDisplay(Engine& engine, std::string_view text, int64_t position);

// Plug-in commands: a line whose command is in the image's plug-in command list.
void runPluginCommand(CommandContext& line);

}  // namespace orv
