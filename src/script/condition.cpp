#include "script/condition.h"

#include <string>

#include "bootstrap/engine.h"
#include "core/conditions.h"
#include "script/command.h"

namespace orv {

// The variable name and the value are the line's localizable texts 1 and 2.
bool lineConditionHolds(const CommandContext& line) {
  const std::string variable = line.localized(1, 1);
  const std::string value = line.localized(3, 2);
  return evaluateCondition(line.engine().vars, {variable, line.param(2), value, line.param(4)});
}

}  // namespace orv
