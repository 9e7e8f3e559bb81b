// The component commands: define components, read and change their state, size, visibility and
// changeability, and save or load the selections. Every name parameter is translated while a language
// is active and then expanded; unknown names change nothing and read as "FALSE" or "0".
#include <string>

#include "bootstrap/engine.h"
#include "bootstrap/trace.h"
#include "core/components.h"
#include "core/text.h"
#include "engines/maintenance.h"
#include "engines/native_plan.h"
#include "platform/files.h"
#include "platform/redirection.h"
#include "script/commands.h"

namespace orv {
namespace {

// The component named by param(1): its translation (the line's first localizable text), expanded.
std::string componentName(const CommandContext& line) { return line.engine().vars.expand(line.localized(1, 1)); }

bool truthOf(const CommandContext& line, size_t n) { return isTrueText(line.expanded(n)); }

ComponentLists& componentsOf(const CommandContext& line) { return line.engine().components; }

void defineComponent(CommandContext& line) {
  const std::string description = line.engine().vars.expand(line.localized(3, 2));
  componentsOf(line).defineTranslated(line.expanded(1), componentName(line), description, truthOf(line, 2));
}

void getComponentState(CommandContext& line) {
  line.setResult(line.param(2), boolText(componentsOf(line).isSelected(componentName(line))));
}

void setComponentState(CommandContext& line) { componentsOf(line).setState(componentName(line), truthOf(line, 2)); }

// An empty name asks for the space the whole selection still needs.
void getComponentSpace(CommandContext& line) {
  const ComponentLists& components = componentsOf(line);
  const std::string name = componentName(line);
  const int64_t bytes = name.empty() ? components.requiredSize() : components.sizeOf(name);
  line.setResult(line.param(2), std::to_string(bytes));
}

void setComponentSpace(CommandContext& line) { componentsOf(line).setSize(componentName(line), line.expanded(2)); }

void setComponentChoice(CommandContext& line) {
  componentsOf(line).setChangeable(componentName(line), truthOf(line, 2));
}

void setComponentVisibility(CommandContext& line) {
  componentsOf(line).setVisible(componentName(line), truthOf(line, 2));
}

void deleteComponent(CommandContext& line) { componentsOf(line).markDeleted(componentName(line)); }

void traceSelections(Engine& engine, const std::string& what) {
  if (engine.trace) engine.trace->line("   <FeatureSelections>" + what + "</FeatureSelections>");
}

// A file the script names is seen as a program of the current platform sees it.
void saveFeatureSelections(CommandContext& line) {
  Engine& engine = line.engine();
  const FileSystemView view(currentPlatform(engine));
  const std::string file = view.map(line.path(1));
  if (!writeInstanceData(engine, file, true)) traceSelections(engine, "not written: " + file);
}

void loadFeatureSelections(CommandContext& line) {
  Engine& engine = line.engine();
  const FileSystemView view(currentPlatform(engine));
  const std::string file = view.map(line.path(1));
  if (!fileExists(file)) return;
  if (loadInstanceData(engine, file, InstanceLoadMode::Update) != LoadOutcome::Loaded)
    traceSelections(engine, "not loaded: " + file);
}

constexpr CommandEntry kComponentCommands[] = {
    {"Define Component", defineComponent},
    {"Get Component State", getComponentState},
    {"Set Component State", setComponentState},
    {"Get Component Space", getComponentSpace},
    {"Set Component Space", setComponentSpace},
    {"Set Component Choice", setComponentChoice},
    {"Set Component Visibility", setComponentVisibility},
    {"Delete Component", deleteComponent},
    {"Save Feature Selections", saveFeatureSelections},
    {"Load Feature Selections", loadFeatureSelections},
};

}  // namespace

std::span<const CommandEntry> componentCommands() { return kComponentCommands; }

}  // namespace orv
