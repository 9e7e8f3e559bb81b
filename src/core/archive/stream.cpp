#include "core/archive/stream.h"

#include <algorithm>
#include <cstring>

namespace orv::archive {

void readExact(ByteSource& src, uint8_t* dst, size_t size) {
  while (size > 0) {
    const size_t n = src.read(dst, size);
    if (n == 0) throw ArchiveError(ArchiveErrorKind::Corrupt, "unexpected end of data");
    dst += n;
    size -= n;
  }
}

size_t MemorySource::read(uint8_t* dst, size_t size) {
  const size_t n = std::min(size, data_.size() - pos_);
  if (n) std::memcpy(dst, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

size_t LimitedSource::read(uint8_t* dst, size_t size) {
  if (left_ == 0) return 0;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(size, left_));
  const size_t n = inner_.read(dst, want);
  left_ -= n;
  return n;
}

}  // namespace orv::archive
