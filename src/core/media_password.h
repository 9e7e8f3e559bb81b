// Media block passwords as the image stores them: scrambled, so the archive password does not stand in
// the setup's program file as plain text.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace orv {

class ImageIndex;

// The password bytes of a stored text; null when the text is not a well-formed stored password (odd
// length or a character that is not a hexadecimal digit at either stage).
std::optional<std::string> unscrambleMediaPassword(std::string_view stored);
// The stored text for a password (the inverse, used by the authoring side and tests).
std::string scrambleMediaPassword(std::string_view password);

// The stored password of a block: its own entry, else the entry named "offline"; empty when neither.
std::string storedBlockPassword(const ImageIndex& index, std::string_view blockName);

}  // namespace orv
