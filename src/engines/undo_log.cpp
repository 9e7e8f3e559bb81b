#include "engines/undo_log.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "core/text.h"
#include "platform/file_info.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/strings.h"

namespace orv {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::string percentEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '%') out += "%25";
    else if (c == '\r') out += "%0D";
    else if (c == '\n') out += "%0A";
    else out += c;
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The lines of a file's bytes: CR LF or a lone LF end a line; a last line without an end counts too.
std::vector<std::string> splitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    size_t stop = end;
    if (stop > start && bytes[stop - 1] == '\r') --stop;
    lines.push_back(bytes.substr(start, stop - start));
    start = end + 1;
  }
  return lines;
}

std::string fileError(const std::string& path) {
  return "The undo log file " + path + " cannot be written: " + systemErrorText(GetLastError());
}

struct FileBlocks {
  std::array<std::string, 4> text;
};

FileBlocks blocksOf(const std::vector<UndoRecord>& records) {
  FileBlocks b;
  for (const UndoRecord& r : records) {
    b.text[0] += encodeLogLine(r.kind) + "\r\n";
    b.text[1] += encodeLogLine(r.data) + "\r\n";
    b.text[2] += std::to_string(r.weight) + "\r\n";
    b.text[3] += encodeLogLine(r.platform) + "\r\n";
  }
  return b;
}

bool writeAll(HANDLE file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30)), put = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &put, nullptr) || put == 0) return false;
    done += put;
  }
  return true;
}

}  // namespace

std::string undoLogFile(std::string_view base, size_t which) { return std::string(base) + std::string(kUndoLogSuffixes[which]); }

bool undoLogFilesExist(std::string_view base) {
  for (size_t i = 0; i < kUndoLogSuffixes.size(); ++i)
    if (!fileExists(undoLogFile(base, i))) return false;
  return true;
}

bool anyUndoLogFileExists(std::string_view base) {
  for (size_t i = 0; i < kUndoLogSuffixes.size(); ++i)
    if (fileExists(undoLogFile(base, i))) return true;
  return false;
}

bool createEmptyUndoLog(std::string_view base) {
  for (size_t i = 0; i < kUndoLogSuffixes.size(); ++i) {
    if (!writeWholeFile(undoLogFile(base, i), {})) {
      deleteUndoLogFiles(base);
      return false;
    }
  }
  return true;
}

void deleteUndoLogFiles(std::string_view base) {
  for (size_t i = 0; i < kUndoLogSuffixes.size(); ++i) {
    const std::wstring path = widen(undoLogFile(base, i));
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
  }
}

std::string encodeLogLine(std::string_view utf8) {
  const bool breaks = utf8.find_first_of("\r\n") != std::string_view::npos;
  if (!breaks && !startsWithNoCase(utf8, kUtf8Mark)) {
    const std::string ansi = toCodePage(utf8, CP_ACP);
    if (fromCodePage(ansi, CP_ACP) == utf8) return ansi;
  }
  return std::string(kUtf8Mark) + percentEncode(utf8);
}

std::string decodeLogLine(std::string_view bytes) {
  if (bytes.substr(0, kUtf8Mark.size()) == kUtf8Mark) return percentDecode(bytes.substr(kUtf8Mark.size()));
  return fromCodePage(bytes, CP_ACP);
}

UndoLogContents readUndoLog(std::string_view base, std::string_view defaultPlatform) {
  UndoLogContents contents;
  std::array<std::vector<std::string>, 4> lines;
  std::vector<std::string> missing;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string path = undoLogFile(base, i);
    std::string bytes;
    if (!fileExists(path) || !readWholeFile(path, bytes)) {
      missing.push_back(path);
      continue;
    }
    lines[i] = splitLines(bytes);
  }
  const size_t count = std::min(lines[0].size(), lines[1].size());
  for (size_t i = 0; i < count; ++i) {
    UndoRecord r;
    r.kind = decodeLogLine(lines[0][i]);
    r.data = decodeLogLine(lines[1][i]);
    r.weight = i < lines[2].size() ? toInt64Or(trim(lines[2][i]), 0) : 0;
    r.platform = i < lines[3].size() ? trim(decodeLogLine(lines[3][i])) : std::string(defaultPlatform);
    if (r.platform.empty()) r.platform = std::string(defaultPlatform);
    contents.records.push_back(std::move(r));
  }
  if (missing.size() == lines.size()) {
    contents.problem = "There is no undo log at " + std::string(base) + "; nothing is undone.";
  } else if (!missing.empty()) {
    std::string names;
    for (const std::string& m : missing) names += (names.empty() ? "" : ", ") + m;
    contents.problem = "The undo log at " + std::string(base) + " is incomplete (missing or unreadable: " + names +
                       "); " + std::to_string(count) + " records are undone.";
  } else if (lines[0].size() != lines[1].size() || lines[0].size() != lines[2].size() ||
             lines[0].size() != lines[3].size()) {
    contents.problem = "The undo log at " + std::string(base) + " is damaged: its files hold " +
                       std::to_string(lines[0].size()) + ", " + std::to_string(lines[1].size()) + ", " +
                       std::to_string(lines[2].size()) + " and " + std::to_string(lines[3].size()) + " lines; " +
                       std::to_string(count) + " records are undone.";
  }
  return contents;
}

void appendUndoLog(std::string_view base, const std::vector<UndoRecord>& records) {
  const FileBlocks blocks = blocksOf(records);
  // Each file's size before appending, so that a failure part-way leaves the four files as they were.
  std::array<int64_t, 4> before{};
  std::array<UniqueHandle, 4> files;
  auto undoAppends = [&](size_t upTo) {
    for (size_t j = 0; j < upTo; ++j) {
      LARGE_INTEGER at;
      at.QuadPart = before[j];
      if (SetFilePointerEx(files[j].get(), at, nullptr, FILE_BEGIN)) SetEndOfFile(files[j].get());
    }
  };
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string path = undoLogFile(base, i);
    files[i] = ownFileHandle(CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{}, zero{};
    if (!files[i] || !GetFileSizeEx(files[i].get(), &size) ||
        !SetFilePointerEx(files[i].get(), zero, nullptr, FILE_END)) {
      const std::string message = fileError(path);
      undoAppends(i);
      throw std::runtime_error(message);
    }
    before[i] = size.QuadPart;
  }
  for (size_t i = 0; i < files.size(); ++i) {
    if (!writeAll(files[i].get(), blocks.text[i])) {
      const std::string message = fileError(undoLogFile(base, i));
      undoAppends(i + 1);
      throw std::runtime_error(message);
    }
  }
}

void writeUndoLog(std::string_view base, const std::vector<UndoRecord>& records) {
  const FileBlocks blocks = blocksOf(records);
  for (size_t i = 0; i < blocks.text.size(); ++i) {
    const std::string path = undoLogFile(base, i);
    setNormalAttributes(path);
    if (!writeWholeFile(path, blocks.text[i])) throw std::runtime_error(fileError(path));
  }
}

}  // namespace orv
