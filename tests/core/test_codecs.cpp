// The 7z coder decoders on streams 7-Zip made (tests/fixtures/make-codec-fixtures.sh), on hand-made
// chunk sequences and damaged data, and the ciphers and checksums on published test vectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/archive/aes.h"
#include "core/archive/codecs.h"
#include "core/archive/sha256.h"

namespace orv::archive {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("missing fixture " + path);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

Bytes fromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

template <size_t N>
Bytes bytesOf(const std::array<uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A stream 7-Zip made: coder properties, packed bytes, and the bytes they decode to.
struct Fixture {
  Bytes props, packed, expected;
};

Fixture loadFixture(const std::string& name) {
  const std::string base = std::string(ORV_FIXTURES) + "/codecs/" + name;
  return {readFile(base + ".props"), readFile(base + ".stream"), readFile(base + ".out")};
}

// Hands out at most `step` bytes per read, so buffer boundaries fall everywhere.
class ChoppySource final : public ByteSource {
 public:
  ChoppySource(std::span<const uint8_t> data, size_t step) : data_(data), step_(step) {}
  size_t read(uint8_t* dst, size_t size) override {
    const size_t n = std::min({size, step_, data_.size() - pos_});
    std::memcpy(dst, data_.data() + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  std::span<const uint8_t> data_;
  size_t step_;
  size_t pos_ = 0;
};

// Everything a decoder yields, read `readSize` bytes at a time.
Bytes drain(ByteSource& s, size_t readSize = size_t(1) << 16) {
  Bytes out, buffer(readSize);
  for (size_t n; (n = s.read(buffer.data(), buffer.size())) > 0;) out.insert(out.end(), buffer.begin(), buffer.begin() + n);
  return out;
}

enum class Method { Lzma, Lzma2 };

std::unique_ptr<ByteSource> decoderFor(Method m, std::span<const uint8_t> props, ByteSource& in, uint64_t outSize) {
  return m == Method::Lzma ? makeLzmaDecoder(props, in, outSize) : makeLzma2Decoder(props, in, outSize);
}

Bytes decode(Method m, std::span<const uint8_t> props, std::span<const uint8_t> packed, uint64_t outSize,
             size_t inputStep = SIZE_MAX, size_t readSize = size_t(1) << 16) {
  ChoppySource in(packed, inputStep);
  auto decoder = decoderFor(m, props, in, outSize);
  return drain(*decoder, readSize);
}

// The kind of ArchiveError `f` throws, or nothing when it returns.
std::optional<ArchiveErrorKind> errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ArchiveError& e) {
    return e.kind();
  }
  return std::nullopt;
}

constexpr auto kCorrupt = ArchiveErrorKind::Corrupt;
constexpr auto kUnsupported = ArchiveErrorKind::Unsupported;

// ---------------------------------------------------------------------------------------------------

struct StreamCase {
  const char* fixture;
  Method method;
};

const StreamCase kSevenZipStreams[] = {
    {"lzma-text", Method::Lzma},            // dictionary reduced to the data size
    {"lzma-text-mx9", Method::Lzma},        // -mx9
    {"lzma-text-eos", Method::Lzma},        // with the end marker
    {"lzma-small-window", Method::Lzma},    // 64 KiB dictionary: the window wraps 48 times
    {"lzma-literal-coding", Method::Lzma},  // lc=8 lp=4 pb=4
    {"lzma-one", Method::Lzma},
    {"lzma2-text", Method::Lzma2},
    {"lzma2-mixed", Method::Lzma2},  // incompressible middle: stored chunks between LZMA chunks
    {"lzma2-small-window", Method::Lzma2},
    {"lzma2-small", Method::Lzma2},
    {"lzma2-empty", Method::Lzma2},
};

TEST(LzmaDecoders, DecodeSevenZipStreamsWhateverTheBufferBoundaries) {
  // (input bytes per read, output bytes per read)
  const std::pair<size_t, size_t> splits[] = {{SIZE_MAX, size_t(1) << 16}, {1, 4093}, {4099, 1}, {200001, 777777}};
  for (const StreamCase& c : kSevenZipStreams) {
    const Fixture f = loadFixture(c.fixture);
    for (const auto& [inputStep, readSize] : splits) {
      if (f.expected.size() > (1 << 20) && readSize == 1) continue;  // byte reads of megabytes: slow, no news
      SCOPED_TRACE(std::string(c.fixture) + " input step " + std::to_string(inputStep) + " read " +
                   std::to_string(readSize));
      EXPECT_EQ(decode(c.method, f.props, f.packed, f.expected.size(), inputStep, readSize), f.expected);
    }
  }
}

TEST(LzmaDecoders, EndMarkerAgainstKnownSize) {
  const Fixture marked = loadFixture("lzma-text-eos");
  const Fixture unmarked = loadFixture("lzma-text");
  const Fixture lzma2 = loadFixture("lzma2-text");
  const uint64_t size = marked.expected.size();

  // An unknown size ends at the end marker (LZMA) or the end chunk (LZMA2).
  EXPECT_EQ(decode(Method::Lzma, marked.props, marked.packed, kUnknownSize), marked.expected);
  EXPECT_EQ(decode(Method::Lzma2, lzma2.props, lzma2.packed, kUnknownSize), lzma2.expected);
  // A known size stops there, before any marker, and a shorter size stops early.
  EXPECT_EQ(decode(Method::Lzma, marked.props, marked.packed, size), marked.expected);
  EXPECT_EQ(decode(Method::Lzma, marked.props, marked.packed, size - 100),
            Bytes(marked.expected.begin(), marked.expected.end() - 100));
  EXPECT_EQ(decode(Method::Lzma2, lzma2.props, lzma2.packed, size - 1),
            Bytes(lzma2.expected.begin(), lzma2.expected.end() - 1));
  // Data that ends before the stated size is damage.
  EXPECT_EQ(errorOf([&] { decode(Method::Lzma, marked.props, marked.packed, size + 1); }), kCorrupt);
  EXPECT_EQ(errorOf([&] { decode(Method::Lzma, unmarked.props, unmarked.packed, kUnknownSize); }), kCorrupt);
  EXPECT_EQ(errorOf([&] { decode(Method::Lzma2, lzma2.props, lzma2.packed, size + 1); }), kCorrupt);
}

TEST(LzmaDecoders, TruncatedStreamsAreCorrupt) {
  for (const StreamCase& c : kSevenZipStreams) {
    const Fixture f = loadFixture(c.fixture);
    if (f.expected.empty()) continue;
    const size_t n = f.packed.size();
    // The last byte LZMA needs ends the stream; LZMA2 has an end byte after it, unneeded at a known size
    // just like an end marker.
    const bool marked = std::string(c.fixture).ends_with("eos");
    const size_t lastNeeded = marked ? n / 2 : c.method == Method::Lzma2 ? n - 2 : n - 1;
    for (const size_t keep : {size_t(0), size_t(1), size_t(4), size_t(5), size_t(6), n / 2, lastNeeded}) {
      if (keep >= n) continue;
      SCOPED_TRACE(std::string(c.fixture) + " cut to " + std::to_string(keep));
      const std::span<const uint8_t> cut(f.packed.data(), keep);
      EXPECT_EQ(errorOf([&] { decode(c.method, f.props, cut, f.expected.size()); }), kCorrupt);
    }
  }
}

// Damaged data decodes to something or fails as Corrupt; it never crashes, hangs or reads out of bounds
// (the sanitizers watch). The fuzz target covers far more of this.
TEST(LzmaDecoders, DamagedStreamsFailCleanly) {
  using Mutation = std::function<void(Bytes&, size_t)>;
  const std::pair<const char*, Mutation> mutations[] = {
      {"flip", [](Bytes& b, size_t at) { b[at] ^= 0x5A; }},
      {"zero", [](Bytes& b, size_t at) { b[at] = 0; }},
      {"ones", [](Bytes& b, size_t at) { b[at] = 0xFF; }},
      {"zeros from here", [](Bytes& b, size_t at) { std::fill(b.begin() + at, b.end(), 0); }},
      {"drop a byte", [](Bytes& b, size_t at) { b.erase(b.begin() + at); }},
      {"repeat a run",
       [](Bytes& b, size_t at) {
         const Bytes run(b.begin(), b.begin() + std::min(at, size_t(40)));
         b.insert(b.begin() + at, run.begin(), run.end());
       }},
  };
  for (const char* name : {"lzma-small-window", "lzma-literal-coding", "lzma2-mixed", "lzma2-small"}) {
    const Fixture f = loadFixture(name);
    const Method method = std::string(name).starts_with("lzma2") ? Method::Lzma2 : Method::Lzma;
    const size_t step = std::max<size_t>(1, f.packed.size() / 5);
    for (const auto& [what, mutate] : mutations)
      for (size_t at = 0; at < f.packed.size(); at += step) {
        Bytes damaged = f.packed;
        mutate(damaged, at);
        SCOPED_TRACE(std::string(name) + " " + what + " at " + std::to_string(at));
        const auto error = errorOf([&] {
          const Bytes out = decode(method, f.props, damaged, f.expected.size());
          EXPECT_EQ(out.size(), f.expected.size());
        });
        if (error) {
          EXPECT_EQ(*error, kCorrupt);
        }
      }
  }
}

// A range decoder fed zeros decodes endless zero bits without consuming much; the end of the input
// must stop it rather than the stated size.
TEST(LzmaDecoders, InputThatRunsOutStopsTheDecoder) {
  const Bytes lzmaProps = {0x5D, 0, 0, 1, 0};
  const uint64_t huge = uint64_t(1) << 40;
  for (const size_t zeros : {size_t(5), size_t(100), size_t(70000)}) {
    const Bytes data(zeros, 0);
    EXPECT_EQ(errorOf([&] { decode(Method::Lzma, lzmaProps, data, huge); }), kCorrupt) << zeros;
    EXPECT_EQ(errorOf([&] { decode(Method::Lzma, lzmaProps, data, kUnknownSize); }), kCorrupt) << zeros;
  }
  // An LZMA2 chunk whose packed bytes are all zero and claim more than they hold.
  const Bytes chunk = concat({{0xE0, 0x1F, 0xFF, 0x00, 0x20, 0x5D}, Bytes(0x21, 0)});
  EXPECT_EQ(errorOf([&] { decode(Method::Lzma2, Bytes{16}, chunk, huge); }), kCorrupt);
}

TEST(LzmaDecoders, PropertiesAreCheckedBeforeUse) {
  const Bytes data(16, 0);
  struct Case {
    const char* what;
    Method method;
    Bytes props;
    uint64_t outSize;
    std::optional<ArchiveErrorKind> error;
  };
  const Case cases[] = {
      {"no properties", Method::Lzma, {}, 10, kCorrupt},
      {"four bytes", Method::Lzma, {0x5D, 0, 0, 1}, 10, kCorrupt},
      {"lc/lp/pb out of range", Method::Lzma, {225, 0, 0, 1, 0}, 10, kCorrupt},
      {"4 GiB dictionary for 8 GiB", Method::Lzma, {0x5D, 0xFF, 0xFF, 0xFF, 0xFF}, uint64_t(8) << 30, kUnsupported},
      {"4 GiB dictionary for 100 bytes", Method::Lzma, {0x5D, 0xFF, 0xFF, 0xFF, 0xFF}, 100, std::nullopt},
      {"64 MiB dictionary (-mx9)", Method::Lzma, {0x5D, 0, 0, 0, 4}, uint64_t(1) << 36, std::nullopt},
      {"LZMA2 without properties", Method::Lzma2, {}, 10, kCorrupt},
      {"LZMA2 dictionary byte 41", Method::Lzma2, {41}, 10, kCorrupt},
      {"LZMA2 4 GiB dictionary for 8 GiB", Method::Lzma2, {40}, uint64_t(8) << 30, kUnsupported},
      {"LZMA2 64 MiB dictionary", Method::Lzma2, {28}, uint64_t(8) << 30, std::nullopt},
  };
  for (const Case& c : cases) {
    MemorySource in(data);
    EXPECT_EQ(errorOf([&] { decoderFor(c.method, c.props, in, c.outSize); }), c.error) << c.what;
  }
}

// ---------------------------------------------------------------------------------------------------

// The chunk headers of an LZMA2 stream: (control byte, offset).
std::vector<std::pair<uint8_t, size_t>> lzma2Chunks(const Bytes& s) {
  std::vector<std::pair<uint8_t, size_t>> chunks;
  for (size_t at = 0; s.at(at) != 0;) {
    const uint8_t control = s[at];
    chunks.emplace_back(control, at);
    at += control < 0x80 ? 3 + ((s[at + 1] << 8 | s[at + 2]) + 1)
                         : (control >= 0xC0 ? 6 : 5) + ((s[at + 3] << 8 | s[at + 4]) + 1);
  }
  return chunks;
}

Bytes storedChunk(uint8_t control, const std::string& text) {
  return concat({{control, 0, static_cast<uint8_t>(text.size() - 1)}, bytesOf(text)});
}

TEST(Lzma2Chunks, SevenZipStreamsHoldTheChunkKindsTheyAreMeantTo) {
  // The decode tests above cover the chunk kinds 7-Zip writes: a first chunk with a dictionary reset,
  // continuations, and stored chunks inside an LZMA stream whose state carries across them. State and
  // property resets without a dictionary reset are hand-made below.
  std::set<uint8_t> kinds;
  for (const char* name : {"lzma2-text", "lzma2-mixed"})
    for (const auto& [control, at] : lzma2Chunks(loadFixture(name).packed))
      kinds.insert(control < 0x80 ? control : control & 0xE0);
  EXPECT_TRUE(kinds.count(0xE0)) << "dictionary reset";
  EXPECT_TRUE(kinds.count(0x80)) << "continuation";
  EXPECT_TRUE(kinds.count(1) || kinds.count(2)) << "stored";
}

TEST(Lzma2Chunks, HandMadeSequences) {
  // lzma2-small is one chunk (control E0: dictionary reset, properties) coded with lc=lp=pb=0, so it
  // decodes the same after other data once its state is reset, which lets it be recombined.
  const Fixture small = loadFixture("lzma2-small");
  const Fixture text = loadFixture("lzma2-text");
  ASSERT_EQ(small.packed[0], 0xE0);
  const Bytes smallChunk(small.packed.begin(), small.packed.end() - 1);
  Bytes withNewProperties = smallChunk;
  withNewProperties[0] = 0xC0;  // state reset and properties, same dictionary
  Bytes withStateReset = smallChunk;
  withStateReset[0] = 0xA0;  // state reset only
  withStateReset.erase(withStateReset.begin() + 5);
  const Bytes& s = small.expected;
  const Bytes end = {0};

  struct Case {
    const char* what;
    Bytes stream;
    Bytes expected;
  };
  const Case cases[] = {
      {"stored chunks", concat({storedChunk(1, "abc"), storedChunk(2, "def"), end}), bytesOf("abcdef")},
      {"stored, then LZMA with new properties", concat({storedChunk(1, "abc"), withNewProperties, end}),
       concat({bytesOf("abc"), s})},
      {"LZMA, then stored, then state reset", concat({smallChunk, storedChunk(2, "xy"), withStateReset, end}),
       concat({s, bytesOf("xy"), s})},
      {"dictionary reset after a long stream", concat({Bytes(text.packed.begin(), text.packed.end() - 1), small.packed}),
       concat({text.expected, s})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decode(Method::Lzma2, text.props, c.stream, c.expected.size()), c.expected) << c.what;
    EXPECT_EQ(decode(Method::Lzma2, text.props, c.stream, kUnknownSize), c.expected) << c.what;
  }
}

TEST(Lzma2Chunks, BrokenSequencesAreCorrupt) {
  const Fixture small = loadFixture("lzma2-small");
  const Bytes smallChunk(small.packed.begin(), small.packed.end() - 1);
  auto withControl = [&](uint8_t control) {
    Bytes b = smallChunk;
    b[0] = control;
    return b;
  };
  auto withPackedSize = [&](int delta) {
    Bytes b = smallChunk;
    const int packed = (b[3] << 8 | b[4]) + delta;
    b[3] = static_cast<uint8_t>(packed >> 8);
    b[4] = static_cast<uint8_t>(packed);
    return concat({b, Bytes(8, 0)});
  };
  Bytes badProperties = smallChunk;
  badProperties[5] = 225;  // beyond lc=8 lp=4 pb=4
  Bytes lcPlusLpAbove4 = smallChunk;
  lcPlusLpAbove4[5] = 3 + 9 * 2;  // lc=3 lp=2
  Bytes withoutProperties = withControl(0xA0);
  withoutProperties.erase(withoutProperties.begin() + 5);

  const std::pair<const char*, Bytes> cases[] = {
      {"starts without a dictionary reset (stored)", storedChunk(2, "abc")},
      {"starts without a dictionary reset (LZMA)", withControl(0xC0)},
      {"no properties after a dictionary reset", concat({storedChunk(1, "abc"), withoutProperties})},
      {"bad chunk type", Bytes{3, 0, 0, 'a'}},
      {"bad properties", badProperties},
      {"lc + lp above 4", lcPlusLpAbove4},
      {"packed size short of the data", withPackedSize(-1)},
      {"packed size beyond the data", withPackedSize(+1)},
      {"stored chunk cut short", Bytes{1, 0, 9, 'a', 'b'}},
      {"ends before the stated size", storedChunk(1, "abc")},
  };
  for (const auto& [what, stream] : cases) {
    const Bytes terminated = concat({stream, {0}});
    EXPECT_EQ(errorOf([&] { decode(Method::Lzma2, Bytes{16}, terminated, 2000); }), kCorrupt) << what;
  }
}

// ---------------------------------------------------------------------------------------------------

// The encoding side of the LZMA range coder, to write streams no encoder makes on demand.
class RangeEncoder {
 public:
  void bit(uint16_t& prob, unsigned b) {
    const uint32_t bound = (range_ >> 11) * prob;
    if (b == 0) {
      range_ = bound;
      prob = static_cast<uint16_t>(prob + ((2048 - prob) >> 5));
    } else {
      low_ += bound;
      range_ -= bound;
      prob = static_cast<uint16_t>(prob - (prob >> 5));
    }
    while (range_ < (1u << 24)) {
      range_ <<= 8;
      shiftLow();
    }
  }
  Bytes finish() {
    for (int i = 0; i < 5; ++i) shiftLow();
    return std::move(out_);
  }

 private:
  void shiftLow() {
    if (static_cast<uint32_t>(low_) < 0xFF000000u || (low_ >> 32) != 0) {
      const auto carry = static_cast<uint8_t>(low_ >> 32);
      uint8_t pending = cache_;
      do {
        out_.push_back(static_cast<uint8_t>(pending + carry));
        pending = 0xFF;
      } while (--cacheSize_ != 0);
      cache_ = static_cast<uint8_t>(low_ >> 24);
    }
    ++cacheSize_;
    low_ = (low_ & 0x00FFFFFF) << 8;
  }

  uint64_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFF;
  uint8_t cache_ = 0;
  uint64_t cacheSize_ = 1;
  Bytes out_;
};

// An LZMA stream (lc=3 lp=0 pb=2) of one zero literal followed by `matches` repeats of 273 bytes at
// distance 1: the cheapest way to a very long output.
Bytes zeroRunStream(uint64_t matches) {
  uint16_t isMatch[12][16], isRep[12], isRepG0[12], isRep0Long[12][16], literal[0x300], lenChoice[2], lenHigh[256];
  auto init = [](auto& array) { std::fill(std::begin(array), std::end(array), uint16_t(1024)); };
  for (auto& row : isMatch) init(row);
  for (auto& row : isRep0Long) init(row);
  init(isRep);
  init(isRepG0);
  init(literal);
  init(lenChoice);
  init(lenHigh);

  RangeEncoder rc;
  rc.bit(isMatch[0][0], 0);
  for (unsigned m = 1; m < 0x100; m <<= 1) rc.bit(literal[m], 0);
  unsigned state = 0;
  uint64_t pos = 1;
  for (uint64_t i = 0; i < matches; ++i, pos += 273) {
    const unsigned posState = pos & 3;
    rc.bit(isMatch[state][posState], 1);
    rc.bit(isRep[state], 1);
    rc.bit(isRepG0[state], 0);
    rc.bit(isRep0Long[state][posState], 1);
    rc.bit(lenChoice[0], 1);
    rc.bit(lenChoice[1], 1);
    for (unsigned m = 1; m < 0x100; m = (m << 1) | 1) rc.bit(lenHigh[m], 1);  // 255: the longest
    state = state < 7 ? 8 : 11;
  }
  return rc.finish();
}

TEST(LzmaDecoders, OutputBeyondFourGiBThroughASmallWindow) {
  const uint64_t matches = ((uint64_t(1) << 32) + (uint64_t(1) << 20)) / 273;
  const uint64_t size = 1 + matches * 273;
  const Bytes packed = zeroRunStream(matches);
  const Bytes props = {0x5D, 0, 0, 1, 0};  // 64 KiB dictionary
  MemorySource in(packed);
  auto decoder = makeLzmaDecoder(props, in, size);
  Bytes buffer(size_t(1) << 20);
  const Bytes zeros(buffer.size(), 0);
  uint64_t total = 0;
  bool allZero = true;
  for (size_t n; (n = decoder->read(buffer.data(), buffer.size())) > 0; total += n)
    allZero = allZero && std::memcmp(buffer.data(), zeros.data(), n) == 0;
  EXPECT_EQ(total, size);
  EXPECT_TRUE(allZero);
}

// ---------------------------------------------------------------------------------------------------

Bytes lzma2Decoded(const Fixture& f) { return decode(Method::Lzma2, f.props, f.packed, kUnknownSize); }

TEST(BcjX86, RestoresSevenZipFilteredCodeWhateverTheReads) {
  // bcj-code: x86-like code (calls, jumps, opcodes inside operands, an opcode in the last bytes) that
  // 7-Zip put through its x86 filter and LZMA2.
  const Fixture f = loadFixture("bcj-code");
  const Bytes filtered = lzma2Decoded(f);
  ASSERT_NE(filtered, f.expected);
  for (const size_t inputStep : {size_t(1), size_t(2), size_t(5), size_t(4099), SIZE_MAX})
    for (const size_t readSize : {size_t(1), size_t(3), size_t(65536)}) {
      ChoppySource in(filtered, inputStep);
      auto bcj = makeBcjX86Decoder(in);
      EXPECT_EQ(drain(*bcj, readSize), f.expected) << "input step " << inputStep << " read " << readSize;
    }
}

TEST(BcjX86, ShortStreamsAndTailsPassUnchanged) {
  for (const Bytes& data : {Bytes{}, Bytes{0xE8}, Bytes{0xE8, 1, 2, 3}, Bytes{0x90, 0xE8, 0x10, 0x20, 0x30},
                            Bytes{0x90, 0x90, 0xE9, 0x00, 0x00, 0x00}}) {
    MemorySource in(data);
    auto bcj = makeBcjX86Decoder(in);
    EXPECT_EQ(drain(*bcj), data);
  }
  // A converted call: absolute 0x105 at offset 0 becomes 0x105 - 5 = 0x100.
  const Bytes call = {0xE8, 0x05, 0x01, 0x00, 0x00, 0x90};
  MemorySource in(call);
  auto bcj = makeBcjX86Decoder(in);
  EXPECT_EQ(drain(*bcj), (Bytes{0xE8, 0x00, 0x01, 0x00, 0x00, 0x90}));
}

// ---------------------------------------------------------------------------------------------------

struct Bcj2Streams {
  Bytes main, call, jump, rc;
};

bool isBranch(uint8_t prev, uint8_t b) { return (b & 0xFE) == 0xE8 || (prev == 0x0F && (b & 0xF0) == 0x80); }

// Splits code into the four BCJ2 streams, converting the branches `convert` picks among those with a
// whole operand. (7-Zip's own BCJ2 archives are decoded by the 7z reader's tests.)
Bcj2Streams splitBcj2(const Bytes& code, const std::function<bool(size_t)>& convert) {
  Bcj2Streams s;
  uint16_t probs[258];
  std::fill(std::begin(probs), std::end(probs), uint16_t(1024));
  RangeEncoder rc;
  uint8_t prev = 0;
  for (size_t i = 0; i < code.size(); ++i) {
    const uint8_t b = code[i];
    s.main.push_back(b);
    if (!isBranch(prev, b) || i + 1 == code.size()) {
      prev = b;
      continue;
    }
    uint16_t& prob = b == 0xE8 ? probs[prev] : b == 0xE9 ? probs[256] : probs[257];
    const bool converted = i + 4 < code.size() && convert(i);
    rc.bit(prob, converted);
    if (!converted) {
      prev = b;
      continue;
    }
    uint32_t relative = 0;
    for (int k = 3; k >= 0; --k) relative = relative << 8 | code[i + 1 + k];
    const uint32_t absolute = relative + static_cast<uint32_t>(i + 5);
    Bytes& side = b == 0xE8 ? s.call : s.jump;
    for (int k = 3; k >= 0; --k) side.push_back(static_cast<uint8_t>(absolute >> (8 * k)));
    prev = code[i + 4];
    i += 4;
  }
  s.rc = rc.finish();
  return s;
}

Bytes decodeBcj2(const Bcj2Streams& s, uint64_t outSize, size_t step = SIZE_MAX, size_t readSize = 65536) {
  ChoppySource main(s.main, step), call(s.call, step), jump(s.jump, step), rc(s.rc, step);
  auto decoder = makeBcj2Decoder(main, call, jump, rc, outSize);
  return drain(*decoder, readSize);
}

TEST(Bcj2, RestoresCodeWhateverTheReads) {
  const Bytes code = loadFixture("bcj-code").expected;  // ends with an opcode in its last bytes
  const Bcj2Streams streams = splitBcj2(code, [](size_t at) { return at % 3 != 0; });
  ASSERT_FALSE(streams.call.empty());
  ASSERT_FALSE(streams.jump.empty());
  for (const auto& [step, readSize] : {std::pair<size_t, size_t>{SIZE_MAX, 65536}, {1, 7}, {3, 1}, {4096, 5}})
    EXPECT_EQ(decodeBcj2(streams, code.size(), step, readSize), code) << step << " " << readSize;
  // A stream ending right after an opcode needs no bit for it.
  const Bytes endsInCall = {0x90, 0x0F, 0x85, 0x11, 0x22, 0x33, 0x44, 0xE8};
  EXPECT_EQ(decodeBcj2(splitBcj2(endsInCall, [](size_t) { return true; }), endsInCall.size()), endsInCall);
}

TEST(Bcj2, MissingStreamBytesAreCorrupt) {
  const Bytes code = loadFixture("bcj-code").expected;
  const Bcj2Streams good = splitBcj2(code, [](size_t) { return true; });
  const std::pair<const char*, std::function<void(Bcj2Streams&)>> cases[] = {
      {"main", [](Bcj2Streams& s) { s.main.resize(s.main.size() / 2); }},
      {"call", [](Bcj2Streams& s) { s.call.resize(s.call.size() - 1); }},
      {"jump", [](Bcj2Streams& s) { s.jump.clear(); }},
      {"rc", [](Bcj2Streams& s) { s.rc.resize(3); }},
  };
  for (const auto& [what, cut] : cases) {
    Bcj2Streams s = good;
    cut(s);
    EXPECT_EQ(errorOf([&] { decodeBcj2(s, code.size()); }), kCorrupt) << what;
  }
}

// ---------------------------------------------------------------------------------------------------

TEST(Crc32, StandardValueAndAnySplit) {
  EXPECT_EQ(crc32(bytesOf("123456789")), 0xCBF43926u);
  EXPECT_EQ(crc32({}), 0u);
  // Against a bitwise reference, over every split of a buffer longer than the 8-byte stride.
  Bytes data(100);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
  uint32_t reference = 0xFFFFFFFF;
  for (const uint8_t b : data) {
    reference ^= b;
    for (int k = 0; k < 8; ++k) reference = (reference >> 1) ^ (0xEDB88320u & (0u - (reference & 1)));
  }
  reference = ~reference;
  const std::span<const uint8_t> all(data);
  for (size_t split = 0; split <= data.size(); ++split)
    EXPECT_EQ(crc32(all.subspan(split), crc32(all.first(split))), reference) << split;
}

TEST(Sha256, PublishedVectors) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
  };
  for (const auto& [message, digest] : cases) {
    const auto d = Sha256::of(bytesOf(message));
    EXPECT_EQ(Bytes(d.begin(), d.end()), fromHex(digest)) << message;
  }
  // A million 'a' in uneven pieces, so updates straddle the block boundaries.
  Sha256 h;
  const Bytes a(1000, 'a');
  for (size_t done = 0, piece = 1; done < 1000000; done += piece, piece = piece % 97 + 1)
    h.update(a.data(), std::min(piece, 1000000 - done));
  const auto d = h.finish();
  EXPECT_EQ(Bytes(d.begin(), d.end()), fromHex("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"));
}

// FIPS-197 appendix C.3 (key 00..1f) and SP 800-38A F.2.5/F.2.6 (CBC-AES256, IV 00..0f).
aes::Key countingKey() {
  aes::Key key;
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i);
  return key;
}
constexpr const char* kFipsPlain = "00112233445566778899aabbccddeeff";
constexpr const char* kFipsCipher = "8ea2b7ca516745bfeafc49904b496089";
constexpr const char* kCbcKey = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
constexpr const char* kCbcPlain =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
constexpr const char* kCbcCipher =
    "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
    "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b";

TEST(Aes, BlockAndCbcVectors) {
  const Bytes cipher = fromHex(kFipsCipher);
  uint8_t plain[16];
  aes::Aes256Decryptor(countingKey()).decryptBlock(cipher.data(), plain);
  EXPECT_EQ(Bytes(plain, plain + 16), fromHex(kFipsPlain));

  // SP 800-38A F.2.6 (CBC-AES256) through the 7z decoder: with a cost of 63 the key is salt + password
  // bytes, so the 32-byte key is a 16-byte salt and 8 UTF-16 characters.
  const Bytes k = fromHex(kCbcKey);
  const Bytes props = concat({{0xFF, 0xFF}, Bytes(k.begin(), k.begin() + 16), fromHex("000102030405060708090a0b0c0d0e0f")});
  std::u16string password;
  for (size_t i = 16; i < 32; i += 2) password.push_back(static_cast<char16_t>(k[i] | k[i + 1] << 8));
  const Bytes ciphertext = fromHex(kCbcCipher);
  const Bytes expected = fromHex(kCbcPlain);
  for (const size_t step : {size_t(1), size_t(17), SIZE_MAX}) {
    ChoppySource in(ciphertext, step);
    auto decoder = makeAesDecoder(props, password, in);
    EXPECT_EQ(drain(*decoder, 5), expected) << step;
  }
}

TEST(Aes, EncryptionMatchesTheVectorsAndTheDecoder) {
  aes::Key key = countingKey();
  const Bytes plain = fromHex(kFipsPlain);
  uint8_t cipher[16];
  aes::Aes256Encryptor(key).encryptBlock(plain.data(), cipher);
  EXPECT_EQ(Bytes(cipher, cipher + 16), fromHex(kFipsCipher));

  // SP 800-38A F.2.5 (CBC-AES256 encryption), fed in two calls so the chain carries across them.
  const Bytes k = fromHex(kCbcKey);
  std::copy(k.begin(), k.end(), key.begin());
  aes::CbcEncryptor::Block iv;
  for (size_t i = 0; i < iv.size(); ++i) iv[i] = static_cast<uint8_t>(i);
  Bytes data = fromHex(kCbcPlain);
  const Bytes original = data;
  aes::CbcEncryptor cbc(key, iv);
  cbc.encrypt(data.data(), 16);
  cbc.encrypt(data.data() + 16, data.size() - 16);
  EXPECT_EQ(data, fromHex(kCbcCipher));

  // What the encryptor makes with a derived key and written properties, the 7z decoder takes back.
  const Bytes salt = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
  const Bytes props = aes::coderProperties(6, salt, iv);
  EXPECT_EQ(props.size(), 2 + 16 + 16u);
  aes::CbcEncryptor derived(aes::deriveKey(6, salt, u"pw \u540d"), iv);
  data = original;
  derived.encrypt(data.data(), data.size());
  MemorySource in(data);
  EXPECT_EQ(drain(*makeAesDecoder(props, u"pw \u540d", in)), original);
}

TEST(Aes, KeyDerivationMatchesAnIndependentHash) {
  // Expected keys from Python's hashlib over the same salt + UTF-16LE password + counter sequence.
  EXPECT_EQ(bytesOf(aes::deriveKey(19, {}, u"secret")),
            fromHex("6511f1507a3c2a982ae6def4f65818ed6cf242651aca19d15cebc6a67ae2891d"));
  const Bytes salt = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(bytesOf(aes::deriveKey(6, salt, u"p\u00e4ssw\u00f6rd \u540d")),
            fromHex("72410e0e4ff8ec21658ef8e3991e165e398fa3aec7517c79d8df18fa6b0d4173"));
}

TEST(Aes, BadPropertiesAndPartialBlocks) {
  const std::pair<Bytes, ArchiveErrorKind> cases[] = {
      {{}, kCorrupt},
      {{0xC0}, kCorrupt},                       // salt and vector announced, sizes missing
      {{0x40, 0x0F, 1, 2, 3}, kCorrupt},        // a 16-byte vector announced, 3 given
      {{0x1E}, kUnsupported},                   // 2^30 rounds
  };
  Bytes nothing;
  for (const auto& c : cases) {
    MemorySource in(nothing);
    EXPECT_EQ(errorOf([&] { makeAesDecoder(c.first, u"pw", in); }), c.second);
  }
  const Bytes seventeen(17, 0);
  MemorySource in(seventeen);
  auto decoder = makeAesDecoder(Bytes{0x3F}, u"pw", in);
  EXPECT_EQ(errorOf([&] { drain(*decoder); }), kCorrupt);
}

}  // namespace
}  // namespace orv::archive
