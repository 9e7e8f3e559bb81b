// Dialog rules (EvaluateDialogRules): each rule of the page's rules file compares a control's property
// with a value and, when it holds, sets another control's property. Properties are read and written as
// the design's text form has them ("True"/"False", decimal numbers, plain texts).
#pragma once
#include <optional>
#include <string>

#include "ui/page.h"

namespace orv {

// A property of a control as text; empty when the control has no such property.
std::optional<std::string> propertyText(Page& page, PageControl& control, std::string_view property);
// Sets a property from text; false when the control has no such property or the text does not fit it.
bool setPropertyText(Page& page, PageControl& control, std::string_view property, const std::string& text);

void runDialogRules(Page& page);

}  // namespace orv
