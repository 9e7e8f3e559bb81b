// Text operations behind the string and variable commands, free of the platform: script integers,
// find-and-replace, the parts of a path, and the split of "Parse String". Positions and lengths count
// characters (code points), never UTF-8 bytes.
#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orv {

// A text that a command needed as an integer and that is not one; it ends the run with the
// script-error message.
class ConversionError : public std::runtime_error {
 public:
  explicit ConversionError(std::string_view text);
};

// Script integers: an optional "+" or "-" followed by one or more decimal digits, nothing else (no
// blanks, no hexadecimal forms), within the range of the type.
bool isIntegerText(std::string_view text);
std::optional<int32_t> toInt32(std::string_view text);
std::optional<int64_t> toInt64(std::string_view text);
int32_t toInt32OrThrow(std::string_view text);

// Replaces the first occurrence of `what`, or every one; an empty `what` changes nothing.
std::string replaceText(std::string_view text, std::string_view what, std::string_view with, bool ignoreCase,
                        bool everyOccurrence);

// "Replace String": value, search text and replacement with their line breaks as "$NEWLINE$" tokens
// first, so a multi-line value keeps its line breaks as tokens. A match that would begin or end inside
// a token is passed over, so a search for "line" or "NEW" never breaks a line break apart.
std::string replaceStringValue(std::string_view value, std::string_view what, std::string_view with,
                               bool ignoreCase, bool everyOccurrence);

// The parts of a backslash path that "Extract Path" takes.
enum class PathPart {
  FileName = 0,       // name with extension
  BaseName = 1,       // name without extension
  Extension = 2,      // extension without its "."
  Folder = 3,         // folder with trailing backslash
  ParentFolder = 4,   // parent of that folder with trailing backslash
  Drive = 5,          // drive or network share with trailing backslash; empty if none
  SingleBackslashes = 6,
};
// The part numbered `part`; any number outside 0 to 6 gives the path unchanged.
std::string extractPathPart(std::string_view path, int64_t part);
// "C:" of "C:\x", "\\server\share" of "\\server\share\x"; empty for a relative path.
std::string driveOf(std::string_view path);
bool hasDriveOrShare(std::string_view path);

// "Parse String": splits `source` at a delimiter or a count.
enum class ParseMethod { FirstOccurrence = 0, LastOccurrence = 1, FirstCharacters = 2, LastCharacters = 3 };
struct ParsedParts {
  std::string before;
  std::string after;
};
// `method` is the number the script gave (any number outside 0 to 3 gives two empty parts).
ParsedParts parseString(std::string_view source, std::string_view delimiter, int64_t method, bool trimParts,
                        bool ignoreCase);

}  // namespace orv
