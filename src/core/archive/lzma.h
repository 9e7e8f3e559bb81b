// The LZMA decoding machinery shared by the LZMA and LZMA2 decoders: a buffered view of the packed
// input, the circular dictionary window the data is decoded into, and the symbol decoder itself.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/archive/stream.h"

namespace orv::archive::lzma {

[[noreturn]] void corrupt(const char* what);

// No symbol reads more packed bytes than this: every adaptive bit normalises the range at most once
// (at most ~22 of them per match) and 26 direct bits need at most 4 more. The decoder may therefore
// run without bounds checks while this many bytes remain, and the input keeps as many readable bytes
// past its data, so a symbol decoded near the end never leaves the buffer; whether it used bytes
// beyond the data is checked after it.
inline constexpr ptrdiff_t kMaxSymbolInput = 32;

// Dictionaries beyond what 7-Zip itself writes are refused rather than allocated.
inline constexpr uint64_t kMaxDictionarySize = sizeof(void*) >= 8 ? uint64_t(1536) << 20 : uint64_t(512) << 20;

struct LiteralCoding {
  unsigned lc = 3, lp = 0, pb = 2;
};

// Splits the lc/lp/pb byte of the properties; false when it is out of range.
bool decodeLiteralCoding(uint8_t byte, LiteralCoding& out);

// The packed stream, read in large blocks. Bytes in [pos, end) are data; at least kMaxSymbolInput
// readable bytes follow `end`.
class InputBuffer {
 public:
  InputBuffer(ByteSource& source, size_t capacity);

  const uint8_t* pos() const { return buffer_.data() + pos_; }
  const uint8_t* end() const { return buffer_.data() + end_; }
  size_t available() const { return end_ - pos_; }
  bool sourceEnded() const { return ended_; }
  void consumeTo(const uint8_t* p) { pos_ = static_cast<size_t>(p - buffer_.data()); }
  void consume(size_t n) { pos_ += n; }

  // Moves the unread bytes to the front and reads until at least `want` bytes (at most the capacity)
  // are there or the source ends. Returns the bytes available.
  size_t require(size_t want);
  uint8_t takeByte();  // one byte; Corrupt at the end of the data

 private:
  ByteSource& source_;
  std::vector<uint8_t> buffer_;
  size_t capacity_;
  size_t pos_ = 0, end_ = 0;
  bool ended_ = false;
};

// The circular dictionary. The decoder writes at `pos`; bytes from `flushed` to `pos` are decoded but
// not yet handed out. When `pos` reaches the size and all is handed out, writing wraps to the start.
class Window {
 public:
  explicit Window(uint64_t size);

  size_t size() const { return size_; }
  size_t pending() const { return pos_ - flushed_; }
  size_t room() const { return size_ - pos_; }
  size_t takeDecoded(uint8_t* dst, size_t size);
  // Starts over at the front once the end is reached and all was handed out.
  void wrapIfDone();
  // Forgets the history (LZMA2 dictionary reset); only between chunks, with nothing pending.
  void reset();
  // Appends bytes that were stored without compression.
  void putRaw(const uint8_t* src, size_t size);

 private:
  friend class Decoder;
  std::unique_ptr<uint8_t[]> data_;
  size_t size_;
  size_t pos_ = 0;
  size_t flushed_ = 0;
  bool full_ = false;         // wrapped since the last reset: every distance below the size is valid
  uint32_t processed_ = 0;    // bytes since the last reset, modulo 2^32 (position bits for lp/pb)
};

// The LZMA symbol decoder: probabilities, state, repeated distances and the range coder.
class Decoder {
 public:
  enum class Stop { Limit, NeedInput, EndMarker };

  explicit Decoder(Window& window, const LiteralCoding& coding = {});

  void setLiteralCoding(const LiteralCoding& coding);
  void resetState();
  // Starts a range-coded stream: 5 bytes, of which the first is zero. Needs 5 bytes at `in`.
  void startRangeCoder(const uint8_t*& in);
  bool matchPending() const { return pendingLen_ != 0; }

  // Decodes into the window until it reaches `limit` (at most its size), the end marker, or until
  // fewer than kMaxSymbolInput bytes remain before `inEnd` when `inputFinal` is false. With
  // `inputFinal`, [in, inEnd) is the rest of the stream and reading past it is Corrupt.
  Stop decode(const uint8_t*& in, const uint8_t* inEnd, bool inputFinal, size_t limit);

 private:
  size_t finishPendingMatch(size_t limit);

  Window& window_;
  LiteralCoding coding_;
  std::unique_ptr<uint16_t[]> probs_;  // set up by setLiteralCoding, filled by resetState
  size_t probsCount_ = 0;
  size_t probsCapacity_ = 0;
  uint32_t range_ = 0, code_ = 0;
  unsigned state_ = 0;
  uint32_t reps_[4] = {0, 0, 0, 0};
  unsigned pendingLen_ = 0;  // bytes of a match still to copy when the last call stopped at its limit
};

}  // namespace orv::archive::lzma
