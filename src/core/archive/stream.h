// Pull streams that the 7z decoders are chained from: each decoder reads from its input sources and
// hands out decoded bytes. Decoders throw ArchiveError for damaged data; a source never reads past the
// data it was given (a truncated input is an error, not a hang).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace orv::archive {

enum class ArchiveErrorKind {
  Corrupt,        // damaged or truncated data, bad header, CRC mismatch
  WrongPassword,  // encrypted data that does not decode with the password given
  Unsupported,    // a method, filter or feature this decoder does not handle
  Cancelled,      // the caller asked to stop
  Io,             // the underlying file could not be read or written
};

class ArchiveError : public std::runtime_error {
 public:
  ArchiveError(ArchiveErrorKind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
  ArchiveErrorKind kind() const { return kind_; }

 private:
  ArchiveErrorKind kind_;
};

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` bytes; returns the number read, 0 only at the end of the stream.
  virtual size_t read(uint8_t* dst, size_t size) = 0;
};

// Reads exactly `size` bytes or throws Corrupt.
void readExact(ByteSource& src, uint8_t* dst, size_t size);

// A source over bytes in memory (not owned).
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> data) : data_(data) {}
  size_t read(uint8_t* dst, size_t size) override;

 private:
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
};

// A source that yields at most `limit` bytes of another source (a packed stream inside the archive).
class LimitedSource final : public ByteSource {
 public:
  LimitedSource(ByteSource& inner, uint64_t limit) : inner_(inner), left_(limit) {}
  size_t read(uint8_t* dst, size_t size) override;
  uint64_t left() const { return left_; }

 private:
  ByteSource& inner_;
  uint64_t left_;
};

}  // namespace orv::archive
