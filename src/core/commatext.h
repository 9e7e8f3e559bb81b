// Comma text: the list encoding of variable snapshots, native action data, undo logs and plug-in calls.
// Items are joined with ","; an item holding a character at or below space, a double quote or a comma is
// quoted with inner quotes doubled; a list of one empty item is written as "".
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace orv {

std::string joinCommaText(const std::vector<std::string>& items);
std::vector<std::string> splitCommaText(std::string_view text);

// Unwraps a comma text nested in comma text: re-parses while the list has exactly one item.
std::vector<std::string> unwrapCommaText(std::string_view text);

}  // namespace orv
