// Turning an archive entry's name into a path that stays inside the folder it is extracted to.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace orv::archive {

// The entry name as a relative Windows path ("\" separators, no empty, "." or ".." parts), or nullopt
// when the name is absolute (leading separator, drive letter, UNC, "\\?\"), climbs above its root with
// "..", names a device (CON, NUL, COM1, ...), or holds characters Windows treats specially in names
// (":" streams, wildcards, control characters). ".." inside the name is resolved when it stays within.
std::optional<std::string> safeRelativePath(std::string_view entryName);

// The name with "/" turned into "\" (how entries are listed and matched).
std::string withBackslashes(std::string_view entryName);

}  // namespace orv::archive
