// The x86 branch converter: compressors turn the relative targets of CALL (E8) and JMP (E9) into
// absolute addresses, which repeat more often; decoding turns them back. Which opcodes were converted
// follows from the bytes themselves plus a small memory of the opcodes seen in the last few bytes, so
// that memory is kept across reads.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/archive/codecs.h"

namespace orv::archive {

namespace {

// Only targets whose top byte is 0x00 or 0xFF (within ±16 MiB) are converted.
bool isNearTopByte(uint8_t b) { return b == 0x00 || b == 0xFF; }

class X86BranchDecoder {
 public:
  // Converts buf[0, size) back, where buf[0] is at stream position pos_. Returns how many bytes are
  // final; the rest (fewer than 5) need the bytes that follow before they can be decided.
  size_t convert(uint8_t* buf, size_t size) {
    if (size < 5) return 0;
    if (pos_ - prevOpcodePos_ > 5) prevOpcodePos_ = pos_ - 5;
    const size_t last = size - 5;
    size_t i = 0;
    while (i <= last) {
      if ((buf[i] & 0xFE) != 0xE8) {
        ++i;
        continue;
      }
      const uint32_t here = pos_ + static_cast<uint32_t>(i);
      forgetOlderThan(here - prevOpcodePos_);
      prevOpcodePos_ = here;
      if (isNearTopByte(buf[i + 4]) && recentOpcodesAllowConversion()) {
        convertAt(buf + i, here);
        i += 5;
        recent_ = 0;
      } else {
        // Remember the unconverted opcode one byte back, and whether its operand looked convertible.
        recent_ |= 1;
        if (isNearTopByte(buf[i + 4])) recent_ |= 0x10;
        ++i;
      }
    }
    pos_ += static_cast<uint32_t>(i);
    return i;
  }

 private:
  // `recent_` remembers unconverted opcodes up to 3 bytes back: bit d marks one d bytes before the
  // current opcode, bit d + 4 that its operand ended in a near top byte. Each byte of distance shifts
  // it left; whatever moves past 3 bytes is dropped.
  void forgetOlderThan(uint32_t distance) {
    if (distance > 5) {
      recent_ = 0;
      return;
    }
    for (uint32_t k = 0; k < distance; ++k) recent_ = (recent_ & 0x77) << 1;
  }

  bool recentOpcodesAllowConversion() const {
    static constexpr bool kAllowed[8] = {true, true, true, false, true, false, false, false};
    const uint32_t history = recent_ >> 1;
    return history < 8 && kAllowed[history];
  }

  void convertAt(uint8_t* op, uint32_t here) {
    // Which operand byte an earlier opcode (inside this operand) could have been: 3, 2 or 1.
    static constexpr unsigned kOverlapByte[8] = {0, 1, 2, 2, 3, 3, 3, 3};
    uint32_t value = uint32_t(op[1]) | uint32_t(op[2]) << 8 | uint32_t(op[3]) << 16 | uint32_t(op[4]) << 24;
    uint32_t target;
    for (;;) {
      target = value - (here + 5);
      if (recent_ == 0) break;
      const unsigned shift = 24 - kOverlapByte[(recent_ >> 1) & 7] * 8;
      if (!isNearTopByte(static_cast<uint8_t>(target >> shift))) break;
      value = target ^ ((1u << shift << 8) - 1);
    }
    op[1] = static_cast<uint8_t>(target);
    op[2] = static_cast<uint8_t>(target >> 8);
    op[3] = static_cast<uint8_t>(target >> 16);
    op[4] = static_cast<uint8_t>(0 - ((target >> 24) & 1));
  }

  uint32_t pos_ = 0;            // stream position of the next byte to convert (modulo 2^32)
  uint32_t prevOpcodePos_ = 0;  // stream position of the last E8/E9 examined
  uint32_t recent_ = 0;
};

class BcjX86Source final : public ByteSource {
 public:
  explicit BcjX86Source(ByteSource& in) : in_(in), buffer_(kBufferSize) {}

  size_t read(uint8_t* dst, size_t size) override {
    if (ready_ == done_) refill();
    const size_t n = std::min(size, done_ - ready_);
    std::memcpy(dst, buffer_.data() + ready_, n);
    ready_ += n;
    return n;
  }

 private:
  static constexpr size_t kBufferSize = size_t(64) << 10;

  void refill() {
    // Keep the undecided tail of the last block in front of the new bytes.
    const size_t tail = filled_ - done_;
    std::memmove(buffer_.data(), buffer_.data() + done_, tail);
    filled_ = tail;
    ready_ = done_ = 0;
    while (done_ == 0 && !ended_) {
      const size_t n = in_.read(buffer_.data() + filled_, buffer_.size() - filled_);
      if (n == 0) {
        ended_ = true;
        done_ = filled_;  // the last few bytes of the stream pass unchanged
        break;
      }
      filled_ += n;
      done_ = decoder_.convert(buffer_.data(), filled_);
    }
  }

  ByteSource& in_;
  X86BranchDecoder decoder_;
  std::vector<uint8_t> buffer_;
  size_t ready_ = 0;   // next byte to hand out
  size_t done_ = 0;    // end of the converted bytes
  size_t filled_ = 0;  // end of the bytes read
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<ByteSource> makeBcjX86Decoder(ByteSource& in) { return std::make_unique<BcjX86Source>(in); }

}  // namespace orv::archive
