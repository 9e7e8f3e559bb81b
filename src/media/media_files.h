// File helpers of media placement: tree listing and moving, and the guard that keeps every path of
// the image's media tables inside the folder it names.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// Paths of every file under `folder` (with a trailing backslash), relative to it, in listing order.
std::vector<std::string> filesBelow(const std::string& folder);
// Moves every file of the tree into `to` (a destination's attributes cleared and the file deleted
// first), making folders as needed, then removes the emptied source tree; into a missing or empty `to`
// on the same volume the whole tree moves by one rename. False when a file could not be moved; what was
// moved stays moved.
bool moveTree(const std::string& from, const std::string& to);
// Deletes the file at `path` when there is one, attributes cleared first; false when it stays.
bool removeFile(const std::string& path);
// A relative path of a media table (folders with or without a trailing backslash) that names a place
// inside its base folder; null for a rooted path, a parent reference or a name the file system would
// read otherwise.
std::optional<std::string> safeMediaPath(std::string_view relative);
// A block name that is one plain folder name.
bool isPlainName(std::string_view name);
// Posts the null message that wakes the UI thread's wait (the window in WINDOWHANDLE).
struct Engine;
void wakeUiThread(Engine& engine);

}  // namespace orv
