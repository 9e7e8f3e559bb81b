// Reader of 7z archives: lists the entries and extracts a chosen set of them through a sink. The reader
// never touches the file system; the caller supplies the archive bytes (ArchiveInput) and the outputs
// (ExtractSink). Every size and count in the archive is checked against the data before use, so a
// damaged or hostile archive ends in an ArchiveError, never in a crash, a hang or a huge allocation.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/archive/stream.h"

namespace orv::archive {

// Random access to the archive's bytes: a file in the library, memory in tests and the fuzzer.
class ArchiveInput {
 public:
  virtual ~ArchiveInput() = default;
  virtual uint64_t size() const = 0;
  // Reads up to `size` bytes at `offset`; fewer only at the end of the input. Throws ArchiveError(Io).
  virtual size_t readAt(uint64_t offset, uint8_t* dst, size_t size) = 0;
};

class MemoryInput final : public ArchiveInput {
 public:
  explicit MemoryInput(std::span<const uint8_t> data) : data_(data) {}
  uint64_t size() const override { return data_.size(); }
  size_t readAt(uint64_t offset, uint8_t* dst, size_t size) override;

 private:
  std::span<const uint8_t> data_;
};

struct ArchiveEntry {
  std::string name;  // UTF-8, separators as stored (7-Zip writes "/")
  bool isFolder = false;
  bool encrypted = false;  // its bytes pass through AES
  uint64_t size = 0;
  std::optional<uint32_t> crc;
  std::optional<uint32_t> attributes;  // Windows attribute bits (any Unix mode stored above them removed)
  std::optional<uint64_t> modified;    // FILETIME: 100 ns units since 1601
};

// Supplies a password each time an encrypted header or folder needs one; nullopt when it has none (more).
// An encrypted header is retried with each further password until one decodes it.
using PasswordSupplier = std::function<std::optional<std::u16string>()>;

// Caps on what an archive may make the reader hold in memory; beyond them it is refused as Unsupported.
struct ArchiveLimits {
  uint64_t maxHeaderSize = uint64_t(256) << 20;  // plain or decoded header bytes
  size_t maxEntries = size_t(1) << 21;
  int maxPasswordAttempts = 16;
};

// Receives the bytes of one entry. Destroyed without commit() when extraction of the entry fails.
class EntryOutput {
 public:
  virtual ~EntryOutput() = default;
  virtual void write(const uint8_t* data, size_t size) = 0;
  // Every byte arrived and the CRC (when the archive has one) matched.
  virtual void commit() = 0;
};

class ExtractSink {
 public:
  virtual ~ExtractSink() = default;
  // The output for a chosen entry, in archive order; folders and empty files are committed with no bytes.
  // Null skips the entry. The sink may throw (ArchiveError Cancelled to stop).
  virtual std::unique_ptr<EntryOutput> open(size_t index, const ArchiveEntry& entry) = 0;
};

class SevenZipArchive {
 public:
  // Reads and checks the signature header and the header (decoding it when it is packed or encrypted).
  explicit SevenZipArchive(ArchiveInput& input, PasswordSupplier password = {}, ArchiveLimits limits = {});
  ~SevenZipArchive();
  SevenZipArchive(const SevenZipArchive&) = delete;
  SevenZipArchive& operator=(const SevenZipArchive&) = delete;

  // Every entry except anti items (deletion markers of update archives).
  const std::vector<ArchiveEntry>& entries() const;

  // Extracts the entries flagged in `chosen` (indexes into entries(); empty: all). A solid folder
  // decodes once, front to back, up to its last chosen entry; bytes of the others are skipped.
  void extract(const std::vector<bool>& chosen, ExtractSink& sink);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orv::archive
