// A small 7z writer that stores entries with the copy method: archives for tests (including names and
// layouts 7-Zip refuses to write) and for tools that pack files without compressing them.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace orv::archive {

struct WriterEntry {
  enum class Kind { File, Folder, Anti };
  std::string name;  // UTF-8, written as given
  Kind kind = Kind::File;
  std::vector<uint8_t> data;  // a file's bytes; empty and zeroBytes 0: an empty file
  uint64_t zeroBytes = 0;     // instead of data: this many zero bytes, not held in memory (no CRC stored)
  std::optional<uint32_t> attributes;
  std::optional<uint64_t> modified;  // FILETIME
};

struct WriterOptions {
  bool solid = true;        // all file data in one folder; otherwise a folder per file
  bool packHeader = false;  // store the header as a (copy-coded) packed stream
};

class ArchiveOutput {
 public:
  virtual ~ArchiveOutput() = default;
  virtual void write(std::span<const uint8_t> bytes) = 0;
  virtual void writeZeros(uint64_t count) = 0;
};

void writeCopyArchive(const std::vector<WriterEntry>& entries, const WriterOptions& options, ArchiveOutput& out);
std::vector<uint8_t> writeCopyArchive(const std::vector<WriterEntry>& entries, const WriterOptions& options = {});

// Recomputes the CRCs of the start header and (when it lies inside) the header of edited archive bytes,
// so tests and the fuzzer can hand damaged headers to the parser past its CRC checks.
void refreshHeaderCrcs(std::vector<uint8_t>& archive);

}  // namespace orv::archive
