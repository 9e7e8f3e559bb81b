// The archive as a POSIX file for the native benchmarks: positioned reads, no buffering of our own, so
// the figures are the reader's.
#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "core/archive/sevenzip.h"

namespace orv::bench {

class PosixFileInput final : public archive::ArchiveInput {
 public:
  explicit PosixFileInput(const char* path) : fd_(::open(path, O_RDONLY)) {
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0)
      throw archive::ArchiveError(archive::ArchiveErrorKind::Io, std::string("cannot open ") + path);
    size_ = static_cast<uint64_t>(st.st_size);
  }
  ~PosixFileInput() override {
    if (fd_ >= 0) ::close(fd_);
  }
  PosixFileInput(const PosixFileInput&) = delete;
  PosixFileInput& operator=(const PosixFileInput&) = delete;

  uint64_t size() const override { return size_; }
  size_t readAt(uint64_t offset, uint8_t* dst, size_t size) override {
    const ssize_t n = pread(fd_, dst, size, static_cast<off_t>(offset));
    if (n < 0) throw archive::ArchiveError(archive::ArchiveErrorKind::Io, "read failed");
    return static_cast<size_t>(n);
  }

 private:
  int fd_;
  uint64_t size_ = 0;
};

}  // namespace orv::bench
