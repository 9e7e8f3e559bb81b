// BCJ2: x86 code split into four streams. The main stream holds the code with the operands of
// converted branches taken out; those absolute targets sit big-endian in the call stream (E8) or the
// jump stream (E9 and the 0F 8x conditional jumps); a range-coded stream says, for each branch opcode,
// whether it was converted.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/archive/codecs.h"

namespace orv::archive {

namespace {

[[noreturn]] void corrupt(const char* what) { throw ArchiveError(ArchiveErrorKind::Corrupt, what); }

// One of the inputs, read in blocks; running out of it is damage.
class BlockReader {
 public:
  BlockReader(ByteSource& source, size_t capacity) : source_(source), buffer_(capacity) {}

  // The buffered bytes, refilled when empty; never empty.
  std::span<const uint8_t> bytes() {
    if (pos_ == end_) {
      pos_ = 0;
      end_ = source_.read(buffer_.data(), buffer_.size());
      if (end_ == 0) corrupt("damaged BCJ2 data: a stream ends early");
    }
    return {buffer_.data() + pos_, end_ - pos_};
  }
  void consume(size_t n) { pos_ += n; }
  uint8_t byte() {
    const uint8_t b = bytes()[0];
    ++pos_;
    return b;
  }
  uint32_t bigEndian32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | byte();
    return v;
  }

 private:
  ByteSource& source_;
  std::vector<uint8_t> buffer_;
  size_t pos_ = 0, end_ = 0;
};

bool isBranch(uint8_t prev, uint8_t b) { return (b & 0xFE) == 0xE8 || (prev == 0x0F && (b & 0xF0) == 0x80); }

class Bcj2Source final : public ByteSource {
 public:
  Bcj2Source(ByteSource& main, ByteSource& call, ByteSource& jump, ByteSource& rc, uint64_t outSize)
      : main_(main, kMainBuffer), call_(call, kSideBuffer), jump_(jump, kSideBuffer), rc_(rc, kSideBuffer),
        left_(outSize) {
    std::fill(std::begin(probs_), std::end(probs_), uint16_t(kBitModelTotal / 2));
  }

  size_t read(uint8_t* dst, size_t size) override {
    size = static_cast<size_t>(std::min<uint64_t>(size, left_));
    size_t n = 0;
    while (n < size) {
      if (addressLeft_ > 0) {
        n += takeAddressBytes(dst + n, size - n);
      } else if (branchPending_) {
        // Decoded only when a byte after the opcode is wanted: a stream may end with an opcode.
        branchPending_ = false;
        decodeBranch();
      } else {
        n += copyPlain(dst + n, size - n);
      }
    }
    left_ -= n;
    return n;
  }

 private:
  static constexpr size_t kMainBuffer = size_t(64) << 10;
  static constexpr size_t kSideBuffer = size_t(4) << 10;
  static constexpr unsigned kBitModelBits = 11;
  static constexpr uint32_t kBitModelTotal = 1u << kBitModelBits;
  static constexpr unsigned kMoveBits = 5;
  static constexpr uint32_t kTop = 1u << 24;

  // Copies main-stream bytes up to and including the next branch opcode.
  size_t copyPlain(uint8_t* dst, size_t size) {
    const std::span<const uint8_t> in = main_.bytes();
    const size_t limit = std::min(size, in.size());
    uint8_t prev = prevByte_;
    size_t i = 0;
    while (i < limit) {
      const uint8_t b = in[i];
      dst[i++] = b;
      if (isBranch(prev, b)) {
        branchPending_ = true;
        branchContext_ = prev;
      }
      prev = b;
      if (branchPending_) break;
    }
    main_.consume(i);
    position_ += static_cast<uint32_t>(i);
    prevByte_ = prev;
    return i;
  }

  void decodeBranch() {
    const uint8_t opcode = prevByte_;
    uint16_t& prob = opcode == 0xE8 ? probs_[branchContext_] : opcode == 0xE9 ? probs_[256] : probs_[257];
    if (!decodeBit(prob)) return;
    const uint32_t absolute = (opcode == 0xE8 ? call_ : jump_).bigEndian32();
    const uint32_t relative = absolute - (position_ + 4);
    for (int k = 0; k < 4; ++k) address_[k] = static_cast<uint8_t>(relative >> (8 * k));
    addressLeft_ = 4;
    position_ += 4;
    prevByte_ = static_cast<uint8_t>(relative >> 24);
  }

  size_t takeAddressBytes(uint8_t* dst, size_t size) {
    const size_t n = std::min<size_t>(size, addressLeft_);
    std::memcpy(dst, address_ + (4 - addressLeft_), n);
    addressLeft_ -= static_cast<unsigned>(n);
    return n;
  }

  bool decodeBit(uint16_t& prob) {
    if (!rcStarted_) {
      for (int i = 0; i < 5; ++i) code_ = (code_ << 8) | rc_.byte();
      range_ = 0xFFFFFFFF;
      rcStarted_ = true;
    }
    const uint32_t bound = (range_ >> kBitModelBits) * prob;
    bool bit;
    if (code_ < bound) {
      range_ = bound;
      prob = static_cast<uint16_t>(prob + ((kBitModelTotal - prob) >> kMoveBits));
      bit = false;
    } else {
      range_ -= bound;
      code_ -= bound;
      prob = static_cast<uint16_t>(prob - (prob >> kMoveBits));
      bit = true;
    }
    if (range_ < kTop) {
      range_ <<= 8;
      code_ = (code_ << 8) | rc_.byte();
    }
    return bit;
  }

  BlockReader main_, call_, jump_, rc_;
  uint64_t left_;
  uint16_t probs_[258];  // E8 after each possible previous byte, then E9, then the conditional jumps
  uint32_t range_ = 0, code_ = 0;
  bool rcStarted_ = false;
  uint32_t position_ = 0;  // bytes produced, modulo 2^32: branch targets are relative to it
  uint8_t prevByte_ = 0;        // the last byte produced
  uint8_t branchContext_ = 0;   // the byte before a pending opcode (it selects an E8's probability)
  bool branchPending_ = false;  // a branch opcode was copied but its bit not yet decoded
  uint8_t address_[4] = {};
  unsigned addressLeft_ = 0;  // bytes of a converted address not yet handed out
};

}  // namespace

std::unique_ptr<ByteSource> makeBcj2Decoder(ByteSource& main, ByteSource& call, ByteSource& jump, ByteSource& rc,
                                            uint64_t outSize) {
  return std::make_unique<Bcj2Source>(main, call, jump, rc, outSize);
}

}  // namespace orv::archive
