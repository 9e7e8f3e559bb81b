// The interpreter's prologue: the variables the engine defines before the first line, the
// command-line assignments, and the single-instance marker.
#pragma once
#include <string>

namespace orv {

struct Engine;

// The progress protocol's reserved variables and the pre-initial TARGETDIR, STARTMENU and ALLUSERS.
void setEarlyVariables(Engine& engine);
// The predefined variables, in their order, with the change reason "Initialization".
void setPredefinedVariables(Engine& engine);
// The NAME=value arguments, in command-line order, with the injection reason.
void injectCommandLine(Engine& engine);

// For a setup built as single-instance: the marker file of this run, or empty when the setup allows
// several instances.
std::string singleInstanceMarker(const Engine& engine);

}  // namespace orv
