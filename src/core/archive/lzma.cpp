#include "core/archive/lzma.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/archive/codecs.h"

#if defined(__GNUC__)
#define ORV_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define ORV_ALWAYS_INLINE inline
#endif

namespace orv::archive::lzma {

void corrupt(const char* what) { throw ArchiveError(ArchiveErrorKind::Corrupt, what); }

bool decodeLiteralCoding(uint8_t byte, LiteralCoding& out) {
  if (byte >= 9 * 5 * 5) return false;
  out.lc = byte % 9;
  out.lp = byte / 9 % 5;
  out.pb = byte / 45;
  return true;
}

// ---------------------------------------------------------------------------------------------------

InputBuffer::InputBuffer(ByteSource& source, size_t capacity)
    : source_(source), buffer_(capacity + kMaxSymbolInput), capacity_(capacity) {}

size_t InputBuffer::require(size_t want) {
  want = std::min(want, capacity_);
  if (available() >= want || ended_) return available();
  if (pos_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + pos_, available());
    end_ -= pos_;
    pos_ = 0;
  }
  while (end_ < want) {
    const size_t n = source_.read(buffer_.data() + end_, capacity_ - end_);
    if (n == 0) {
      ended_ = true;
      break;
    }
    end_ += n;
  }
  return available();
}

uint8_t InputBuffer::takeByte() {
  if (require(1) == 0) corrupt("the compressed data ends early");
  return buffer_[pos_++];
}

// ---------------------------------------------------------------------------------------------------

Window::Window(uint64_t size) : size_(static_cast<size_t>(std::max<uint64_t>(size, 1))) {
  if (size > kMaxDictionarySize)
    throw ArchiveError(ArchiveErrorKind::Unsupported, "an LZMA dictionary larger than 7-Zip writes");
  try {
    data_ = std::make_unique_for_overwrite<uint8_t[]>(size_);
  } catch (const std::bad_alloc&) {
    throw ArchiveError(ArchiveErrorKind::Unsupported, "not enough memory for the LZMA dictionary");
  }
}

size_t Window::takeDecoded(uint8_t* dst, size_t size) {
  const size_t n = std::min(size, pending());
  std::memcpy(dst, data_.get() + flushed_, n);
  flushed_ += n;
  return n;
}

void Window::wrapIfDone() {
  if (pos_ == size_ && flushed_ == pos_) {
    pos_ = flushed_ = 0;
    full_ = true;
  }
}

void Window::reset() {
  pos_ = flushed_ = 0;
  full_ = false;
  processed_ = 0;
}

void Window::putRaw(const uint8_t* src, size_t size) {
  std::memcpy(data_.get() + pos_, src, size);
  pos_ += size;
  processed_ += static_cast<uint32_t>(size);
}

// ---------------------------------------------------------------------------------------------------

namespace {

constexpr unsigned kStates = 12;
constexpr unsigned kPosStatesMax = 16;
constexpr unsigned kLenToPosStates = 4;
constexpr unsigned kPosSlotBits = 6;
constexpr unsigned kEndPosModelIndex = 14;
constexpr unsigned kFullDistances = 128;
constexpr unsigned kAlignBits = 4;
constexpr unsigned kMatchMinLen = 2;
constexpr unsigned kLiteralStates = 7;  // states below this follow a literal
constexpr uint32_t kEndMarkerDistance = 0xFFFFFFFF;

// Length coder: choice, choice2, then 8-entry low and mid trees per position state and one high tree.
constexpr size_t kLenChoice2 = 1;
constexpr size_t kLenLow = 2;
constexpr size_t kLenMid = kLenLow + kPosStatesMax * 8;
constexpr size_t kLenHigh = kLenMid + kPosStatesMax * 8;
constexpr size_t kLenCoderSize = kLenHigh + 256;

// All probabilities live in one array; these are the offsets of its parts.
constexpr size_t kIsMatch = 0;
constexpr size_t kIsRep = kIsMatch + kStates * kPosStatesMax;
constexpr size_t kIsRepG0 = kIsRep + kStates;
constexpr size_t kIsRepG1 = kIsRepG0 + kStates;
constexpr size_t kIsRepG2 = kIsRepG1 + kStates;
constexpr size_t kIsRep0Long = kIsRepG2 + kStates;
constexpr size_t kPosSlot = kIsRep0Long + kStates * kPosStatesMax;
constexpr size_t kNearDistance = kPosSlot + (kLenToPosStates << kPosSlotBits);
constexpr size_t kAlign = kNearDistance + 1 + kFullDistances - kEndPosModelIndex;
constexpr size_t kLenCoder = kAlign + (1 << kAlignBits);
constexpr size_t kRepLenCoder = kLenCoder + kLenCoderSize;
constexpr size_t kLiteral = kRepLenCoder + kLenCoderSize;
constexpr size_t kLiteralCoderSize = 0x300;

constexpr unsigned kBitModelBits = 11;
constexpr uint32_t kBitModelTotal = 1u << kBitModelBits;
constexpr unsigned kMoveBits = 5;
constexpr uint32_t kTop = 1u << 24;

// The range decoder lives in locals of the decoding loop so its state stays in registers.
struct RangeDecoder {
  uint32_t range;
  uint32_t code;
  const uint8_t* in;

  ORV_ALWAYS_INLINE void normalize() {
    if (range < kTop) {
      range <<= 8;
      code = (code << 8) | *in++;
    }
  }

  ORV_ALWAYS_INLINE unsigned bit(uint16_t& prob) {
    const uint32_t p = prob;
    const uint32_t bound = (range >> kBitModelBits) * p;
    unsigned b;
    if (code < bound) {
      range = bound;
      prob = static_cast<uint16_t>(p + ((kBitModelTotal - p) >> kMoveBits));
      b = 0;
    } else {
      range -= bound;
      code -= bound;
      prob = static_cast<uint16_t>(p - (p >> kMoveBits));
      b = 1;
    }
    normalize();
    return b;
  }

  // A most-significant-bit-first tree of `bits` levels; probs[1 .. 2^bits - 1] are used.
  ORV_ALWAYS_INLINE unsigned tree(uint16_t* probs, unsigned bits) {
    unsigned m = 1;
    for (unsigned i = 0; i < bits; ++i) m = (m << 1) | bit(probs[m]);
    return m - (1u << bits);
  }

  // The same tree read least significant bit first.
  ORV_ALWAYS_INLINE unsigned reverseTree(uint16_t* probs, unsigned bits) {
    unsigned m = 1, symbol = 0;
    for (unsigned i = 0; i < bits; ++i) {
      const unsigned b = bit(probs[m]);
      m = (m << 1) | b;
      symbol |= b << i;
    }
    return symbol;
  }

  // Bits with a fixed probability of one half.
  ORV_ALWAYS_INLINE uint32_t direct(unsigned bits) {
    uint32_t value = 0;
    do {
      range >>= 1;
      code -= range;
      const uint32_t t = 0u - (code >> 31);  // all ones when the bit is 0 (code went below zero)
      code += range & t;
      value = (value << 1) + (t + 1);
      normalize();
    } while (--bits);
    return value;
  }

  ORV_ALWAYS_INLINE unsigned length(uint16_t* probs, unsigned posState) {
    if (bit(probs[0]) == 0) return tree(probs + kLenLow + posState * 8, 3);
    if (bit(probs[kLenChoice2]) == 0) return 8 + tree(probs + kLenMid + posState * 8, 3);
    return 16 + tree(probs + kLenHigh, 8);
  }

  // `len` is the match length minus the minimum; short matches have their own slot trees.
  ORV_ALWAYS_INLINE uint32_t distance(uint16_t* probs, unsigned len) {
    const unsigned lenState = len < kLenToPosStates ? len : kLenToPosStates - 1;
    const unsigned slot = tree(probs + kPosSlot + (lenState << kPosSlotBits), kPosSlotBits);
    if (slot < 4) return slot;
    const unsigned directBits = (slot >> 1) - 1;
    uint32_t dist = (2 | (slot & 1)) << directBits;
    if (slot < kEndPosModelIndex) return dist + reverseTree(probs + kNearDistance + dist - slot, directBits);
    dist += direct(directBits - kAlignBits) << kAlignBits;
    return dist + reverseTree(probs + kAlign, kAlignBits);
  }
};

// Where the byte `rep0 + 1` back from `pos` lies in the circular window.
ORV_ALWAYS_INLINE size_t sourceOf(size_t pos, uint32_t rep0, size_t windowSize) {
  return pos > rep0 ? pos - rep0 - 1 : pos + windowSize - rep0 - 1;
}

// Copies `n` bytes of a match forwards (an overlapping match repeats its own output).
ORV_ALWAYS_INLINE void copyMatch(uint8_t* dic, size_t windowSize, size_t pos, uint32_t rep0, size_t n) {
  size_t src = sourceOf(pos, rep0, windowSize);
  uint8_t* dst = dic + pos;
  if (src < pos) {
    const uint8_t* s = dic + src;
    if (pos - src == 1) {  // a run of one byte value, common in binaries
      std::memset(dst, *s, n);
      return;
    }
    if (pos - src >= 8) {
      // Eight bytes at a time: each block reads bytes written at least one block earlier.
      while (n >= 8) {
        std::memcpy(dst, s, 8);
        dst += 8;
        s += 8;
        n -= 8;
      }
    }
    while (n--) *dst++ = *s++;
    return;
  }
  // The source lies in the previous lap of the window and may wrap to its start.
  while (n--) {
    *dst++ = dic[src];
    if (++src == windowSize) src = 0;
  }
}

}  // namespace

Decoder::Decoder(Window& window, const LiteralCoding& coding) : window_(window) {
  setLiteralCoding(coding);
  resetState();
}

void Decoder::setLiteralCoding(const LiteralCoding& coding) {
  coding_ = coding;
  const size_t count = kLiteral + (kLiteralCoderSize << (coding.lc + coding.lp));
  if (count > probsCapacity_) {
    probs_ = std::make_unique_for_overwrite<uint16_t[]>(count);
    probsCapacity_ = count;
  }
  probsCount_ = count;
}

void Decoder::resetState() {
  // Filled by doubling copies: with lc + lp up to 12 there are three million of them.
  uint16_t* const p = probs_.get();
  p[0] = static_cast<uint16_t>(kBitModelTotal / 2);
  for (size_t done = 1; done < probsCount_;) {
    const size_t n = std::min(done, probsCount_ - done);
    std::memcpy(p + done, p, n * sizeof *p);
    done += n;
  }
  state_ = 0;
  reps_[0] = reps_[1] = reps_[2] = reps_[3] = 0;
  pendingLen_ = 0;
}

void Decoder::startRangeCoder(const uint8_t*& in) {
  if (in[0] != 0) corrupt("damaged LZMA data");
  code_ = uint32_t(in[1]) << 24 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 8 | in[4];
  range_ = 0xFFFFFFFF;
  if (code_ == range_) corrupt("damaged LZMA data");
  in += 5;
}

size_t Decoder::finishPendingMatch(size_t limit) {
  Window& w = window_;
  const size_t n = std::min<size_t>(pendingLen_, limit - w.pos_);
  copyMatch(w.data_.get(), w.size_, w.pos_, reps_[0], n);
  w.pos_ += n;
  w.processed_ += static_cast<uint32_t>(n);
  pendingLen_ -= static_cast<unsigned>(n);
  return w.pos_;
}

Decoder::Stop Decoder::decode(const uint8_t*& inRef, const uint8_t* inEnd, bool inputFinal, size_t limit) {
  Window& w = window_;
  uint8_t* const dic = w.data_.get();
  const size_t windowSize = w.size_;
  size_t pos = pendingLen_ ? finishPendingMatch(limit) : w.pos_;
  unsigned pendingLen = pendingLen_;  // still nonzero only when the limit is reached already
  const bool full = w.full_;
  uint32_t processed = w.processed_;

  RangeDecoder rc{range_, code_, inRef};
  uint16_t* const probs = probs_.get();
  const unsigned lc = coding_.lc;
  const uint32_t lpMask = (1u << coding_.lp) - 1;
  const uint32_t pbMask = (1u << coding_.pb) - 1;
  unsigned state = state_;
  uint32_t rep0 = reps_[0], rep1 = reps_[1], rep2 = reps_[2], rep3 = reps_[3];
  Stop stop = Stop::Limit;
  // The byte before `pos`, which selects the literal coder; zero at the start of the data.
  unsigned prevByte = pos > 0 ? dic[pos - 1] : full ? dic[windowSize - 1] : 0;

  while (pos < limit) {
    if (inEnd - rc.in < kMaxSymbolInput) {
      if (!inputFinal) {
        stop = Stop::NeedInput;
        break;
      }
      if (rc.in > inEnd) corrupt("the compressed data ends early");
    }
    const unsigned posState = processed & pbMask;

    if (rc.bit(probs[kIsMatch + state * kPosStatesMax + posState]) == 0) {
      uint16_t* lit = probs + kLiteral +
                      kLiteralCoderSize * ((((processed & lpMask) << lc) + (prevByte >> (8 - lc))));
      unsigned symbol = 1;
      if (state < kLiteralStates) {
        for (int i = 0; i < 8; ++i) symbol = (symbol << 1) | rc.bit(lit[symbol]);
      } else {
        // After a match the byte at rep0 steers the first bits until one differs from it.
        unsigned matchByte = dic[sourceOf(pos, rep0, windowSize)];
        unsigned offset = 0x100;
        do {
          matchByte <<= 1;
          const unsigned matchBit = matchByte & offset;
          const unsigned b = rc.bit(lit[offset + matchBit + symbol]);
          symbol = (symbol << 1) | b;
          offset &= b ? matchBit : ~matchBit;
        } while (symbol < 0x100);
      }
      prevByte = static_cast<uint8_t>(symbol);
      dic[pos++] = prevByte;
      ++processed;
      state = state < 4 ? 0 : state < 10 ? state - 3 : state - 6;
      continue;
    }

    unsigned len;
    if (rc.bit(probs[kIsRep + state]) == 0) {
      len = rc.length(probs + kLenCoder, posState);
      state = state < kLiteralStates ? 7 : 10;
      const uint32_t dist = rc.distance(probs, len);
      if (dist == kEndMarkerDistance) {
        stop = Stop::EndMarker;
        break;
      }
      if (dist >= (full ? windowSize : pos)) corrupt("damaged LZMA data: a match reaches before the start");
      rep3 = rep2;
      rep2 = rep1;
      rep1 = rep0;
      rep0 = dist;
    } else {
      if (pos == 0 && !full) corrupt("damaged LZMA data: a repeated match at the start");
      if (rc.bit(probs[kIsRepG0 + state]) == 0) {
        if (rc.bit(probs[kIsRep0Long + state * kPosStatesMax + posState]) == 0) {
          // A single byte from rep0.
          state = state < kLiteralStates ? 9 : 11;
          prevByte = dic[sourceOf(pos, rep0, windowSize)];
          dic[pos++] = prevByte;
          ++processed;
          continue;
        }
      } else {
        uint32_t dist;
        if (rc.bit(probs[kIsRepG1 + state]) == 0) {
          dist = rep1;
        } else {
          if (rc.bit(probs[kIsRepG2 + state]) == 0) {
            dist = rep2;
          } else {
            dist = rep3;
            rep3 = rep2;
          }
          rep2 = rep1;
        }
        rep1 = rep0;
        rep0 = dist;
      }
      len = rc.length(probs + kRepLenCoder, posState);
      state = state < kLiteralStates ? 8 : 11;
    }

    len += kMatchMinLen;
    const size_t n = std::min<size_t>(len, limit - pos);
    copyMatch(dic, windowSize, pos, rep0, n);
    pos += n;
    prevByte = dic[pos - 1];
    processed += static_cast<uint32_t>(n);
    pendingLen = len - static_cast<unsigned>(n);
  }
  if (inputFinal && rc.in > inEnd) corrupt("the compressed data ends early");

  inRef = rc.in;
  range_ = rc.range;
  code_ = rc.code;
  state_ = state;
  reps_[0] = rep0;
  reps_[1] = rep1;
  reps_[2] = rep2;
  reps_[3] = rep3;
  pendingLen_ = pendingLen;
  w.pos_ = pos;
  w.processed_ = processed;
  return stop;
}

// ---------------------------------------------------------------------------------------------------

namespace {

constexpr size_t kInputCapacity = size_t(64) << 10;
// How far ahead of the reader one call decodes: large enough to amortise the call, small enough that
// the bytes are still in the cache when they are copied out.
constexpr size_t kDecodeStep = size_t(256) << 10;
constexpr uint32_t kMinDictionary = 4096;

// A raw LZMA stream as 7z stores it: the properties come from the coder, the data ends at the unpacked
// size (or, when the size is unknown, at the end marker).
class LzmaSource final : public ByteSource {
 public:
  LzmaSource(std::span<const uint8_t> props, ByteSource& in, uint64_t outSize)
      : input_(in, kInputCapacity), window_(windowSize(props, outSize)), decoder_(window_, coding_), left_(outSize) {}

  size_t read(uint8_t* dst, size_t size) override {
    if (failed_) corrupt("damaged LZMA data");
    while (window_.pending() == 0) {
      if (finished_ || left_ == 0 || size == 0) return 0;
      failed_ = true;
      decodeStep(size);
      failed_ = false;
    }
    return window_.takeDecoded(dst, size);
  }

 private:
  uint64_t windowSize(std::span<const uint8_t> props, uint64_t outSize) {
    if (props.size() < 5 || !decodeLiteralCoding(props[0], coding_)) corrupt("bad LZMA properties");
    const uint32_t dictionary =
        std::max(kMinDictionary, uint32_t(props[1]) | uint32_t(props[2]) << 8 | uint32_t(props[3]) << 16 |
                                     uint32_t(props[4]) << 24);
    // A stream never reaches further back than its own length, so a small one needs no large window.
    return std::min<uint64_t>(dictionary, outSize);
  }

  void decodeStep(size_t wanted) {
    if (!started_) {
      if (input_.require(5) < 5) corrupt("the compressed data ends early");
      const uint8_t* p = input_.pos();
      decoder_.startRangeCoder(p);
      input_.consumeTo(p);
      started_ = true;
    }
    window_.wrapIfDone();
    const uint64_t step = std::min<uint64_t>({window_.room(), left_, std::max(wanted, kDecodeStep)});
    const size_t before = window_.pending();
    const size_t limit = window_.size() - window_.room() + static_cast<size_t>(step);
    for (;;) {
      const uint8_t* p = input_.pos();
      const Decoder::Stop stop = decoder_.decode(p, input_.end(), input_.sourceEnded(), limit);
      input_.consumeTo(p);
      if (stop == Decoder::Stop::NeedInput) {
        input_.require(kInputCapacity);
        continue;
      }
      if (stop == Decoder::Stop::EndMarker) {
        if (left_ != kUnknownSize && window_.pending() - before < left_) corrupt("the LZMA data ends early");
        finished_ = true;
      }
      break;
    }
    if (left_ != kUnknownSize) left_ -= window_.pending() - before;
  }

  LiteralCoding coding_;
  InputBuffer input_;
  Window window_;
  Decoder decoder_;
  uint64_t left_;
  bool started_ = false;
  bool finished_ = false;
  bool failed_ = false;
};

}  // namespace

}  // namespace orv::archive::lzma

namespace orv::archive {

std::unique_ptr<ByteSource> makeLzmaDecoder(std::span<const uint8_t> props, ByteSource& in, uint64_t outSize) {
  return std::make_unique<lzma::LzmaSource>(props, in, outSize);
}

}  // namespace orv::archive
