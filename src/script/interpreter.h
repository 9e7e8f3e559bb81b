// The interpreter: checks the script, runs its prologue and walks the lines on the main thread.
#pragma once

namespace orv {

struct Engine;

// Runs the whole script; returns when it has ended (normally or by a script error it reported).
// Exceptions before the first line (outside compilation errors) reach the caller.
void runScript(Engine& engine);

}  // namespace orv
