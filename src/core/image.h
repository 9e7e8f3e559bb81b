// The setup image: the compiled script and its tables, appended to the engine's program file as ANSI
// text in the project's code page. Sections come in a fixed order (A to V); list sections end with a
// line holding only "$". The reader keeps every table as text (UTF-8 after conversion) and indexes the
// keyed ones; the writer produces exactly the same format.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace orv {

class ImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SetupImage {
  std::vector<std::string> commands;        // A: command name per script line
  std::vector<std::string> lineIds;         // B: line identifier (GUID) per script line
  std::vector<std::string> parameters;      // C: identifier followed by that line's parameters
  std::vector<std::string> disabled;        // D: "C" for a disabled line, else empty
  std::string productCode;                  // E
  std::string title;                        // F
  std::vector<std::string> pluginCommands;  // G
  std::string publisher;                    // H1
  std::string contact;                      // H2
  std::string helpLink;                     // H3
  std::string updateInfoLink;               // H4
  std::string comments;                     // H5
  std::string version;                      // H6
  std::vector<std::string> mediaPasswords;  // I: block name, scrambled password, ...
  std::vector<std::string> mediaFolders;    // J: per script line, "" or "BLOCK\"
  int64_t cachingMode = 1;                  // K
  std::vector<std::string> componentSizes;  // L: component name, size, ...
  std::string revisionCode;                 // M
  std::vector<std::string> mediaFiles;      // N: media name, path in archive, target folder, ...
  std::string languageDialog;               // O: "TRUE" offers the language dialog
  std::string defaultLanguage;              // P
  std::vector<std::string> commandHeaders;  // Q: header id (8 hex digits), line index, ...
  std::vector<std::string> compilerVariables;  // R: name, value, ...
  int64_t codePage = 1252;                  // S
  std::vector<std::string> sourcePositions; // T: "file*line" per script line (line zero-based)
  int64_t totalWeight = 0;                  // U
  std::vector<std::string> headerFiles;     // V: header id, "NEWHEADER", then pairs of lines

  size_t lineCount() const { return commands.size(); }
};

// Keyed lookups over a loaded image. Built once after loading; the image must outlive it.
class ImageIndex {
 public:
  explicit ImageIndex(const SetupImage& image);

  // Parameter k (1-based; 0 gives the identifier itself) of the line with this identifier; empty when
  // the table holds no entry for it or the entry is shorter.
  std::string_view parameter(std::string_view lineId, size_t k) const;
  // Same, by zero-based script line index.
  std::string_view parameterOfLine(size_t lineIndex, size_t k) const;
  // Position of a line's identifier in the parameter table (parameter k is at position + k), or npos;
  // lets a caller that reads parameters often look the identifier up once.
  size_t parameterPosition(size_t lineIndex) const;
  bool isDisabled(size_t lineIndex) const;
  // Zero-based line index of an identifier, or -1.
  int64_t lineOfId(std::string_view lineId) const;
  // Command header id of a zero-based line index; empty when the line has none.
  std::string_view headerOfLine(size_t lineIndex) const;
  // The (path, second line) pairs of a header's block in the header file table.
  std::vector<std::pair<std::string, std::string>> headerFiles(std::string_view headerId) const;
  // Scrambled password of a media block (name compared without case); empty when none.
  std::string mediaPassword(std::string_view blockName) const;
  // Compiler constants as pairs, in table order (first of equal names wins on expansion).
  std::vector<std::pair<std::string, std::string>> compilerConstants() const;

 private:
  const SetupImage& image_;
  std::unordered_map<std::string, size_t> paramIndex_;  // folded identifier -> position in C
  std::unordered_map<std::string, size_t> lineIndex_;   // folded identifier -> line
  std::unordered_map<size_t, size_t> headerByLine_;     // line -> position of its id in Q
};

// Reads an image (bytes from the stub size to the end of the file). Anything behind section V (such as
// a signature appended later) is ignored. Throws ImageError for an image that ends early or holds a bad
// number.
SetupImage readImage(std::string_view bytes);

// Writes the image in its code page. Parameters that are exactly "$" are stored as "$DOLLAR$". Throws
// ImageError for texts the format cannot carry (a line break inside a line, "$" alone in a list other
// than the parameter table).
std::string writeImage(const SetupImage& image);

}  // namespace orv
