// The condition of a control-flow line ("If", "Else If", "While", "Until"): evaluated from the line's
// parameters by the condition rules (seven comparison codes, numeric or text, versions, negation).
#pragma once

namespace orv {

class CommandContext;

bool lineConditionHolds(const CommandContext& line);

}  // namespace orv
