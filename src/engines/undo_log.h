// The undo log: four parallel text files at one base path B (B + ".native.elements.log" and so on), one
// line per record, CR LF line ends, text in the system ANSI code page. Records are appended in the order
// the changes were made and replayed from the last to the first.
//
// A line whose text the ANSI code page cannot carry exactly (characters outside it, or a line break
// inside a value) is written as a UTF-8 byte order mark followed by the UTF-8 text with "%", CR and LF
// written as "%25", "%0D" and "%0A". Lines of older logs never begin with that mark, so they read as
// before, and nothing a record holds is lost or splits its line.
//
// A process can end between any two writes. A record is committed by its kind line, written last: the
// data, weight and platform lines go first, so the reader (which counts records by kind and data lines)
// never meets a kind without its data. A last line without its line end was cut off and is skipped.
#pragma once
#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handles.h"

namespace orv {

struct UndoRecord {
  std::string kind;      // the inverse kind ("Delete File", ...)
  std::string data;      // comma text of its fields
  int64_t weight = 0;    // progress units
  std::string platform;  // "Win32", "x64" or "ia64"
};

inline constexpr std::array<std::string_view, 4> kUndoLogSuffixes = {
    ".native.elements.log", ".native.data.log", ".native.weight.log", ".native.bitness.log"};

std::string undoLogFile(std::string_view base, size_t which);  // base + suffix
bool undoLogFilesExist(std::string_view base);                  // all four
bool anyUndoLogFileExists(std::string_view base);
// Creates the four files empty; false when one cannot be created (those made are removed again).
bool createEmptyUndoLog(std::string_view base);
void deleteUndoLogFiles(std::string_view base);

// One line of a log file and back (see above); the reader also accepts plain ANSI lines.
std::string encodeLogLine(std::string_view utf8);
std::string decodeLogLine(std::string_view bytes);

struct UndoLogContents {
  std::vector<UndoRecord> records;
  // Empty for a sound log; otherwise what was wrong, for the phase trace (the records that could be
  // read are still there).
  std::string problem;
};

// Reads whatever the files at B hold; a cut-off last line of a file is left out. A record needs its kind and data lines; a missing weight counts
// as 0 and a missing platform as `defaultPlatform`. Missing or unreadable files and files of unequal
// length are described in `problem`, never thrown.
UndoLogContents readUndoLog(std::string_view base, std::string_view defaultPlatform);

// Appends the records to the four files (created when missing; an unfinished end is cut first, as
// UndoJournal does). Throws std::runtime_error naming the file and the system's error text when a file
// cannot be written; the files are then as they were.
void appendUndoLog(std::string_view base, const std::vector<UndoRecord>& records);
// Replaces the four files by exactly these records. Throws as appendUndoLog.
void writeUndoLog(std::string_view base, const std::vector<UndoRecord>& records);

// The four files of one log held open while records are made, each record written through as it is made
// (before the change it undoes), so that whatever was changed when the process ends has its record on
// disk. Writes go to the system at once; nothing waits in the process. (They are not forced to the disk
// itself: that would cost a disk round trip per record and guards only against power loss.)
class UndoJournal {
 public:
  // Opens or creates the four files at `base` (its folder must exist) and cuts what an ended process
  // left unfinished: cut-off lines, and lines of a record whose kind line was never written. Throws
  // std::runtime_error naming the file and the system's error.
  explicit UndoJournal(std::string base);
  const std::string& base() const { return base_; }

  // Appends records. Throws as appendUndoLog; the files are then as they were before the call.
  void append(const UndoRecord& record);
  void append(const std::vector<UndoRecord>& records);
  // Removes the last record this journal appended (and not yet withdrawn); false when there is none.
  bool withdrawLast();

 private:
  using Offsets = std::array<int64_t, 4>;
  void cutTo(const Offsets& ends);

  std::string base_;
  std::array<UniqueHandle, 4> files_;
  Offsets end_{};
  std::vector<Offsets> recordStarts_;  // the files' ends before each appended record
};

}  // namespace orv
