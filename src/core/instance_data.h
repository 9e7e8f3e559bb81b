// The instance data file: the choices of an installed instance (components, TARGETDIR, ALLUSERS,
// STARTMENU, the data folder, the remembered variables and the platform) that the engine cache keeps for
// maintenance runs, and that "Save Feature Selections" writes anywhere.
//
// Layout, one item per line, CR LF line ends: six lists each ended by a line "$" (component names,
// selection states, deleted, hidden, fixed, size pairs), then TARGETDIR, ALLUSERS, STARTMENU and the data
// folder, then name/value pairs: the remembered variables, "ZORN64WOW" with the platform word, then
// "OVERRIDECACHE" and "NATIVE_ENGINE". A CR LF inside a value is written as "$NEWLINE$" and read back
// literally (expansion turns it into the line break again).
//
// On disk the text is in the system ANSI code page. A text the code page cannot carry exactly is written
// as UTF-8 behind a byte order mark instead, so registering an instance never loses a character; older
// files never begin with that mark and read as before.
#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/components.h"

namespace orv {

class InstanceDataError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using NamedValue = std::pair<std::string, std::string>;

struct InstanceData {
  std::vector<std::string> names, states, deleted, hidden, fixed, sizes;  // the six lists
  std::string targetDir, allUsers, startMenu, dataFolder;
  std::vector<NamedValue> variables;    // remembered: defined and kept for the next write
  std::optional<std::string> platform;  // "ZORN64WOW"
  std::vector<NamedValue> settings;     // the two pairs after "ZORN64WOW": defined, not remembered
};

// Reads UTF-8 text. Throws InstanceDataError naming what is wrong (a list without its end line, fewer
// than four lines after the lists, a name without its value, an odd size table); nothing is half-read.
InstanceData parseInstanceData(std::string_view text);

// The full form. Throws InstanceDataError for an item the layout cannot carry (a list item that reads
// as the end line "$").
std::string formatInstanceData(const InstanceData& data);

// The update form: the old text up to and including the tenth item line after the lists, then the
// variables, then "ZORN64WOW", "OVERRIDECACHE" and "NATIVE_ENGINE" with their values. Throws
// InstanceDataError when the old text lacks those lines (it is then left as it is).
std::string updatedInstanceData(std::string_view oldText, const std::vector<NamedValue>& variables,
                                std::string_view platform, std::string_view overrideCache,
                                std::string_view nativeEngine);

// How loaded lists meet the current ones.
enum class InstanceLoadMode {
  Full,     // lists and sizes appended
  OldData,  // lists appended, sizes dropped (another revision's file)
  Update,   // loaded states copied onto defined components; deleted, hidden and fixed replaced
};
void mergeComponents(ComponentLists& current, const InstanceData& loaded, InstanceLoadMode mode);

// File bytes and text: ANSI in `codePage`, or UTF-8 behind a byte order mark when the code page cannot
// carry the text exactly.
std::string encodeInstanceFile(std::string_view text, unsigned codePage);
std::string decodeInstanceFile(std::string_view bytes, unsigned codePage);

// The line-based files kept beside the instance data (".par", ".lnk", ".lan", "instance.dat"): one item
// per line, CR LF line ends; a file read back gives the same items (a last empty line included).
std::string formatLines(const std::vector<std::string>& lines);
std::vector<std::string> parseLines(std::string_view text);

// "instance.dat" beside a cached engine: product code, revision code and title.
struct InstanceIdentity {
  std::string productCode, revisionCode, title;
};
std::string formatInstanceIdentity(const InstanceIdentity& identity);
// Null unless the text holds a product and a revision code in braces (a missing title reads as empty).
std::optional<InstanceIdentity> parseInstanceIdentity(std::string_view text);

}  // namespace orv
