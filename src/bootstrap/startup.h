// The main program: from process start to the first script line, and from the end of the script to
// the process exit. Returns the exit code.
#pragma once

namespace orv {

// Exit codes of the start-up itself.
inline constexpr int kExitRuntimeError = 11;
inline constexpr int kExitNoImage = 13;
inline constexpr int kExitNoResources = 14;
inline constexpr int kExitBadResources = 15;
inline constexpr int kExitScriptRejected = 314;

int runSetup();

}  // namespace orv
