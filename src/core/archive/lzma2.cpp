// LZMA2: a sequence of chunks, each either stored or LZMA-coded (at most 2 MiB unpacked, 64 KiB
// packed), which may reset the dictionary, the coder state or the literal coding. A control byte of
// zero ends the stream.
#include <algorithm>

#include "core/archive/codecs.h"
#include "core/archive/lzma.h"

namespace orv::archive {

namespace {

using lzma::corrupt;

constexpr size_t kMaxPackedChunk = size_t(1) << 16;
constexpr size_t kInputCapacity = kMaxPackedChunk + 64;  // a whole chunk with its header
constexpr size_t kDecodeStep = size_t(256) << 10;
constexpr unsigned kMaxLcPlusLp = 4;

uint64_t dictionarySize(std::span<const uint8_t> props) {
  if (props.empty() || props[0] > 40) corrupt("bad LZMA2 properties");
  if (props[0] == 40) return 0xFFFFFFFF;
  return uint64_t(2 | (props[0] & 1)) << (props[0] / 2 + 11);
}

class Lzma2Source final : public ByteSource {
 public:
  Lzma2Source(std::span<const uint8_t> props, ByteSource& in, uint64_t outSize)
      // A stream never reaches further back than its own length, so a small one needs no large window.
      : input_(in, kInputCapacity), window_(std::min(dictionarySize(props), outSize)), decoder_(window_),
        left_(outSize) {}

  size_t read(uint8_t* dst, size_t size) override {
    if (failed_) corrupt("damaged LZMA2 data");
    while (window_.pending() == 0) {
      if (finished_ || left_ == 0 || size == 0) return 0;
      failed_ = true;
      decodeStep(size);
      failed_ = false;
    }
    return window_.takeDecoded(dst, size);
  }

 private:
  void decodeStep(size_t wanted) {
    window_.wrapIfDone();
    if (chunkLeft_ == 0 && !startChunk()) {
      if (left_ != kUnknownSize) corrupt("the LZMA2 data ends early");
      finished_ = true;
      return;
    }
    const size_t step =
        static_cast<size_t>(std::min<uint64_t>({window_.room(), left_, chunkLeft_, std::max(wanted, kDecodeStep)}));
    if (lzmaChunk_)
      decodeLzma(step);
    else
      copyStored(step);
    chunkLeft_ -= window_.pending();
    if (left_ != kUnknownSize) left_ -= window_.pending();
    if (chunkLeft_ == 0 && lzmaChunk_ && (packedLeft_ != 0 || decoder_.matchPending()))
      corrupt("damaged LZMA2 data: a chunk's sizes do not match its data");
  }

  void decodeLzma(size_t step) {
    const size_t limit = window_.size() - window_.room() + step;
    const uint8_t* p = input_.pos();
    if (decoder_.decode(p, p + packedLeft_, true, limit) == lzma::Decoder::Stop::EndMarker)
      corrupt("damaged LZMA2 data: an end mark inside a chunk");
    packedLeft_ -= static_cast<size_t>(p - input_.pos());
    input_.consumeTo(p);
  }

  void copyStored(size_t step) {
    const size_t n = std::min(step, input_.require(step));
    if (n == 0) corrupt("the LZMA2 data ends early");
    window_.putRaw(input_.pos(), n);
    input_.consume(n);
  }

  // Reads a chunk header; false at the end of the stream.
  bool startChunk() {
    const uint8_t control = input_.takeByte();
    if (control == 0) return false;
    if (control == 1 || control >= 0xE0) {
      window_.reset();
      needDictionaryReset_ = false;
      needProperties_ = true;
    } else if (needDictionaryReset_) {
      corrupt("damaged LZMA2 data: no dictionary reset at the start");
    }
    if (control < 0x80) {
      if (control > 2) corrupt("damaged LZMA2 data: bad chunk type");
      chunkLeft_ = takeBigEndian16() + 1;
      lzmaChunk_ = false;
      return true;
    }
    chunkLeft_ = (size_t(control & 0x1F) << 16 | takeBigEndian16()) + 1;
    const size_t packed = takeBigEndian16() + 1;
    const unsigned reset = (control >> 5) & 3;  // 1: state, 2: state and properties, 3: also dictionary
    if (reset >= 2) {
      lzma::LiteralCoding coding;
      if (!lzma::decodeLiteralCoding(input_.takeByte(), coding) || coding.lc + coding.lp > kMaxLcPlusLp)
        corrupt("damaged LZMA2 data: bad properties");
      decoder_.setLiteralCoding(coding);
      needProperties_ = false;
    } else if (needProperties_) {
      corrupt("damaged LZMA2 data: a chunk without properties");
    }
    if (reset >= 1) decoder_.resetState();
    if (packed < 5 || input_.require(packed) < packed) corrupt("the LZMA2 data ends early");
    const uint8_t* p = input_.pos();
    decoder_.startRangeCoder(p);
    input_.consumeTo(p);
    packedLeft_ = packed - 5;
    lzmaChunk_ = true;
    return true;
  }

  size_t takeBigEndian16() {
    const size_t high = input_.takeByte();
    return high << 8 | input_.takeByte();
  }

  lzma::InputBuffer input_;
  lzma::Window window_;
  lzma::Decoder decoder_;
  uint64_t left_;
  size_t chunkLeft_ = 0;   // unpacked bytes of the current chunk still to produce
  size_t packedLeft_ = 0;  // packed bytes of the current LZMA chunk still unread
  bool lzmaChunk_ = false;
  bool needDictionaryReset_ = true;
  bool needProperties_ = true;
  bool finished_ = false;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<ByteSource> makeLzma2Decoder(std::span<const uint8_t> props, ByteSource& in, uint64_t outSize) {
  return std::make_unique<Lzma2Source>(props, in, outSize);
}

}  // namespace orv::archive
