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

// The lines of a file's bytes: CR LF or a lone LF end a line. Text after the last line end was cut off
// when its writer ended; it is left out (`cutOff` tells).
std::vector<std::string> splitLines(const std::string& bytes, bool& cutOff) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
    size_t stop = end;
    if (stop > start && bytes[stop - 1] == '\r') --stop;
    lines.push_back(bytes.substr(start, stop - start));
  }
  cutOff = start < bytes.size();
  return lines;
}

// The offsets just past each line end of a file's bytes.
std::vector<int64_t> lineEnds(const std::string& bytes) {
  std::vector<int64_t> ends;
  for (size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', at + 1))
    ends.push_back(static_cast<int64_t>(at + 1));
  return ends;
}

std::string fileError(const std::string& path) {
  return "The undo log file " + path + " cannot be written: " + systemErrorText(GetLastError());
}

// The four files' lines of some records, and where each record's lines start within them.
struct FileBlocks {
  std::array<std::string, 4> text;
  std::vector<std::array<int64_t, 4>> recordStarts;
};

FileBlocks blocksOf(const std::vector<UndoRecord>& records) {
  FileBlocks b;
  for (const UndoRecord& r : records) {
    b.recordStarts.push_back({int64_t(b.text[0].size()), int64_t(b.text[1].size()), int64_t(b.text[2].size()),
                              int64_t(b.text[3].size())});
    b.text[0] += encodeLogLine(r.kind) + "\r\n";
    b.text[1] += encodeLogLine(r.data) + "\r\n";
    b.text[2] += std::to_string(r.weight) + "\r\n";
    b.text[3] += encodeLogLine(r.platform) + "\r\n";
  }
  return b;
}

// The kind file commits a record, so it is written last.
constexpr std::array<size_t, 4> kCommitOrder = {1, 2, 3, 0};
// What a line of each file holds when a record lacks it (weight 0, the reader's default platform).
constexpr std::array<std::string_view, 4> kFillerLines = {"", "", "0\r\n", "\r\n"};

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
  bool anyCutOff = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string path = undoLogFile(base, i);
    std::string bytes;
    if (!fileExists(path) || !readWholeFile(path, bytes)) {
      missing.push_back(path);
      continue;
    }
    bool cutOff = false;
    lines[i] = splitLines(bytes, cutOff);
    anyCutOff |= cutOff;
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
  if (anyCutOff)
    contents.problem += std::string(contents.problem.empty() ? "" : " ") + "The undo log at " + std::string(base) +
                        " ends in a cut-off line, which is skipped.";
  return contents;
}

void appendUndoLog(std::string_view base, const std::vector<UndoRecord>& records) {
  UndoJournal journal{std::string(base)};
  journal.append(records);
}

void writeUndoLog(std::string_view base, const std::vector<UndoRecord>& records) {
  const FileBlocks blocks = blocksOf(records);
  for (size_t i = 0; i < blocks.text.size(); ++i) {
    const std::string path = undoLogFile(base, i);
    setNormalAttributes(path);
    if (!writeWholeFile(path, blocks.text[i])) throw std::runtime_error(fileError(path));
  }
}

// ---- journal ----

UndoJournal::UndoJournal(std::string base) : base_(std::move(base)) {
  std::array<std::string, 4> bytes;
  for (size_t i = 0; i < files_.size(); ++i) {
    const std::string path = undoLogFile(base_, i);
    files_[i] = ownFileHandle(CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!files_[i] || !GetFileSizeEx(files_[i].get(), &size)) throw std::runtime_error(fileError(path));
    bytes[i].resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    for (size_t done = 0; done < bytes[i].size(); done += got) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes[i].size() - done, 1u << 30));
      if (!ReadFile(files_[i].get(), bytes[i].data() + done, chunk, &got, nullptr) || got == 0)
        throw std::runtime_error(fileError(path));
    }
  }
  // Whole records: as many as there are whole kind and data lines. Weight and platform lines beyond
  // them go; missing ones are filled in, so the next record lands on the same line of every file.
  std::array<std::vector<int64_t>, 4> ends;
  for (size_t i = 0; i < ends.size(); ++i) ends[i] = lineEnds(bytes[i]);
  const size_t records = std::min(ends[0].size(), ends[1].size());
  Offsets keep{};
  std::array<std::string, 4> filler;
  for (size_t i = 0; i < ends.size(); ++i) {
    const size_t whole = std::min(records, ends[i].size());
    keep[i] = whole ? ends[i][whole - 1] : 0;
    for (size_t k = whole; k < records; ++k) filler[i] += kFillerLines[i];
  }
  for (size_t i = 0; i < files_.size(); ++i) {
    if (keep[i] == static_cast<int64_t>(bytes[i].size()) && filler[i].empty()) {
      end_[i] = keep[i];
      continue;
    }
    LARGE_INTEGER at;
    at.QuadPart = keep[i];
    if (!SetFilePointerEx(files_[i].get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(files_[i].get()) ||
        !writeAll(files_[i].get(), filler[i]))
      throw std::runtime_error(fileError(undoLogFile(base_, i)));
    end_[i] = keep[i] + static_cast<int64_t>(filler[i].size());
  }
  for (size_t i = 0; i < files_.size(); ++i) {
    LARGE_INTEGER at;
    at.QuadPart = end_[i];
    if (!SetFilePointerEx(files_[i].get(), at, nullptr, FILE_BEGIN))
      throw std::runtime_error(fileError(undoLogFile(base_, i)));
  }
}

// The kind file is cut first: from then on the record no longer counts, whatever happens next.
void UndoJournal::cutTo(const Offsets& ends) {
  for (size_t i = 0; i < files_.size(); ++i) {
    LARGE_INTEGER at;
    at.QuadPart = ends[i];
    if (SetFilePointerEx(files_[i].get(), at, nullptr, FILE_BEGIN)) SetEndOfFile(files_[i].get());
  }
  end_ = ends;
}

void UndoJournal::append(const UndoRecord& record) { append(std::vector<UndoRecord>{record}); }

void UndoJournal::append(const std::vector<UndoRecord>& records) {
  if (records.empty()) return;
  const FileBlocks blocks = blocksOf(records);
  const Offsets before = end_;
  for (size_t i : kCommitOrder) {
    if (!writeAll(files_[i].get(), blocks.text[i])) {
      const std::string message = fileError(undoLogFile(base_, i));
      cutTo(before);
      throw std::runtime_error(message);
    }
  }
  for (const auto& starts : blocks.recordStarts) {
    Offsets at;
    for (size_t i = 0; i < at.size(); ++i) at[i] = before[i] + starts[i];
    recordStarts_.push_back(at);
  }
  for (size_t i = 0; i < end_.size(); ++i) end_[i] += static_cast<int64_t>(blocks.text[i].size());
}

bool UndoJournal::withdrawLast() {
  if (recordStarts_.empty()) return false;
  cutTo(recordStarts_.back());
  recordStarts_.pop_back();
  return true;
}

}  // namespace orv
