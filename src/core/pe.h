// End of a program image: the largest (raw data offset + raw data size) over its section headers.
// Whatever a file holds behind that point was appended after linking (a setup image, a message file,
// a signature).
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace orv {

// `headers` are the first bytes of the file (or of the loaded module); the section table is located
// through the optional header's own size field. Empty when the headers are not a valid PE layout.
std::optional<uint64_t> peImageEnd(std::string_view headers);

}  // namespace orv
