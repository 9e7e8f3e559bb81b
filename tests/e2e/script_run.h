// Script cases for end-to-end runs: a case is a few script lines and what the run should show. Lines
// leave a trail of digits in TRAIL, and the run ends with the trail as its exit code, so one number
// tells which lines ran in which order (the trail starts with 9 so that leading marks count).
#pragma once
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace orv::test {

using ScriptLines = std::vector<std::vector<std::string>>;

inline std::vector<std::string> mark(int digit) { return {"Set Variable", "TRAIL", "$TRAIL$" + std::to_string(digit)}; }

// The lines between the start of the trail and the exit with it.
inline ScriptLines trailScript(const ScriptLines& body) {
  ScriptLines lines = {{"Set Variable", "TRAIL", "9"}};
  lines.insert(lines.end(), body.begin(), body.end());
  lines.push_back({"Terminate with Exit Code", "$TRAIL$"});
  return lines;
}

inline RunResult runLines(const ScriptLines& lines, const std::string& arguments = "/s", RunOptions options = {},
                          const std::vector<std::string>& compilerConstants = {}) {
  SetupImage image = scriptImage(lines);
  image.compilerVariables = compilerConstants;
  return runSetup(buildSetup(image), arguments, options);
}

}  // namespace orv::test
