// Parsing of the 7z signature header and header. Counts are refused before anything is sized from them:
// a count must fit both a fixed cap and the bytes that are left to describe its items.
#include <algorithm>
#include <cstring>

#include "core/archive/codecs.h"
#include "core/archive/sevenzip_format.h"
#include "core/text.h"

namespace orv::archive::sevenzip {

namespace {

[[noreturn]] void corrupt(const char* what) { throw ArchiveError(ArchiveErrorKind::Corrupt, what); }
[[noreturn]] void unsupported(const std::string& what) { throw ArchiveError(ArchiveErrorKind::Unsupported, what); }

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint64_t le64(const uint8_t* p) { return le32(p) | uint64_t(le32(p + 4)) << 32; }

class Cursor {
 public:
  explicit Cursor(std::span<const uint8_t> data, size_t pos = 0) : data_(data), pos_(pos) {}

  size_t pos() const { return pos_; }
  size_t remaining() const { return data_.size() - pos_; }

  uint8_t byte() {
    if (remaining() < 1) corrupt("the archive header ends early");
    return data_[pos_++];
  }

  // The variable-length numbers of the format: the count of leading one bits in the first byte is the
  // count of little-endian bytes that follow; the first byte's remaining bits are the top bits.
  uint64_t number() {
    const uint8_t first = byte();
    uint64_t value = 0;
    uint8_t mask = 0x80;
    for (int i = 0; i < 8; ++i) {
      if ((first & mask) == 0) return value | (uint64_t(first & (mask - 1)) << (8 * i));
      value |= uint64_t(byte()) << (8 * i);
      mask >>= 1;
    }
    return value;
  }

  uint32_t u32() { return le32(take(4).data()); }
  uint64_t u64() { return le64(take(8).data()); }

  std::span<const uint8_t> take(uint64_t size) {
    if (size > remaining()) corrupt("the archive header ends early");
    const auto out = data_.subspan(pos_, static_cast<size_t>(size));
    pos_ += static_cast<size_t>(size);
    return out;
  }

  // A count of items that each need at least `minBits` of what is left; over `cap` it is unsupported.
  size_t count(uint64_t n, size_t cap, size_t minBits) const {
    if (n > cap) unsupported("the archive holds more items than this reader accepts");
    if (n > uint64_t(remaining()) * 8 / minBits) corrupt("a count in the archive header exceeds its data");
    return static_cast<size_t>(n);
  }

  std::vector<bool> bits(size_t n) {
    const auto bytes = take((uint64_t(n) + 7) / 8);
    std::vector<bool> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = (bytes[i / 8] >> (7 - i % 8)) & 1;
    return out;
  }

  // An "all defined" byte, then a bit per item when not all are.
  std::vector<bool> definedBits(size_t n) {
    if (byte() != 0) return std::vector<bool>(n, true);
    return bits(n);
  }

  void skipPropertyData() { take(number()); }

 private:
  std::span<const uint8_t> data_;
  size_t pos_;
};

size_t countSet(const std::vector<bool>& v) { return static_cast<size_t>(std::count(v.begin(), v.end(), true)); }

std::vector<std::optional<uint32_t>> readDigests(Cursor& c, size_t n) {
  const auto defined = c.definedBits(n);
  if (uint64_t(countSet(defined)) * 4 > c.remaining()) corrupt("CRC list exceeds the archive header");
  std::vector<std::optional<uint32_t>> out(n);
  for (size_t i = 0; i < n; ++i)
    if (defined[i]) out[i] = c.u32();
  return out;
}

void expectId(Cursor& c, uint8_t id) {
  if (c.byte() != id) corrupt("unexpected item in the archive header");
}

// Properties we do not use are skipped by their stated size.
uint8_t skipUnknownUntil(Cursor& c, uint8_t id, std::initializer_list<uint8_t> known) {
  while (id != kEnd && std::find(known.begin(), known.end(), id) == known.end()) {
    c.skipPropertyData();
    id = c.byte();
  }
  return id;
}

void parsePackInfo(Cursor& c, uint64_t packEnd, const ArchiveLimits& limits, StreamsInfo& si) {
  const uint64_t packPos = c.number();
  const size_t n = c.count(c.number(), limits.maxEntries, 8);
  uint8_t id = c.byte();
  if (id == kSize) {
    si.packSizes.reserve(n);
    for (size_t i = 0; i < n; ++i) si.packSizes.push_back(c.number());
    id = c.byte();
  } else if (n > 0) {
    corrupt("packed stream sizes are missing");
  }
  for (;;) {
    id = skipUnknownUntil(c, id, {kCrc});
    if (id == kEnd) break;
    readDigests(c, n);  // the substream CRCs cover the same bytes after decoding
    id = c.byte();
  }
  // Packed streams lie back to back from the end of the signature header.
  if (packPos > packEnd - kSignatureHeaderSize) corrupt("packed streams overlap the archive header");
  uint64_t offset = kSignatureHeaderSize + packPos;
  si.packOffsets.reserve(n);
  for (uint64_t size : si.packSizes) {
    if (size > packEnd - offset) corrupt("a packed stream overlaps the archive header");
    si.packOffsets.push_back(offset);
    offset += size;
  }
}

// Checks that the coders form one tree whose root is the main coder, so each coder's output is read
// exactly once and building the decoders terminates.
void checkCoderTree(const Folder& f) {
  std::vector<bool> seen(f.coders.size());
  std::vector<uint32_t> pending{f.mainCoder};
  size_t visited = 0;
  while (!pending.empty()) {
    const uint32_t coder = pending.back();
    pending.pop_back();
    if (seen[coder]) corrupt("the coders of a folder form a cycle");
    seen[coder] = true;
    ++visited;
    const Coder& k = f.coders[coder];
    for (uint32_t in = k.firstInStream; in < k.firstInStream + k.numInStreams; ++in)
      for (const BindPair& bp : f.bindPairs)
        if (bp.inIndex == in) pending.push_back(bp.outIndex);
  }
  if (visited != f.coders.size()) corrupt("a coder of a folder is not connected");
}

Folder parseFolder(Cursor& c) {
  Folder f;
  const uint64_t numCoders = c.number();
  if (numCoders == 0) corrupt("a folder without coders");
  if (numCoders > kMaxCoders) unsupported("a folder with too many coders");
  uint32_t totalIn = 0;
  for (uint64_t i = 0; i < numCoders; ++i) {
    Coder k;
    const uint8_t flags = c.byte();
    const size_t idSize = flags & 0x0F;
    if (idSize > 8) unsupported("a method id longer than 8 bytes");
    if (flags & 0x80) unsupported("alternative coder methods");
    for (uint8_t b : c.take(idSize)) k.method = (k.method << 8) | b;
    if (flags & 0x10) {
      const uint64_t numIn = c.number();
      const uint64_t numOut = c.number();
      if (numIn == 0 || numIn > kMaxCoderStreams) unsupported("a coder with this many inputs");
      if (numOut != 1) unsupported("a coder with several outputs");
      k.numInStreams = static_cast<uint32_t>(numIn);
    }
    if (flags & 0x20) {
      const auto props = c.take(c.number());
      k.properties.assign(props.begin(), props.end());
    }
    k.firstInStream = totalIn;
    totalIn += k.numInStreams;
    if (totalIn > kMaxCoderStreams) unsupported("a folder with too many coder inputs");
    f.coders.push_back(std::move(k));
  }
  const uint32_t numCodersU = static_cast<uint32_t>(numCoders);
  const uint32_t numBindPairs = numCodersU - 1;
  if (totalIn <= numBindPairs) corrupt("a folder without packed streams");
  std::vector<bool> inBound(totalIn), outBound(numCodersU);
  for (uint32_t i = 0; i < numBindPairs; ++i) {
    const uint64_t in = c.number();
    const uint64_t out = c.number();
    if (in >= totalIn || out >= numCoders || inBound[in] || outBound[out]) corrupt("a bad bind pair in a folder");
    inBound[in] = outBound[out] = true;
    f.bindPairs.push_back({static_cast<uint32_t>(in), static_cast<uint32_t>(out)});
  }
  const uint32_t numPacked = totalIn - numBindPairs;
  if (numPacked == 1) {
    const auto it = std::find(inBound.begin(), inBound.end(), false);
    f.packedStreams.push_back(static_cast<uint32_t>(it - inBound.begin()));
  } else {
    for (uint32_t i = 0; i < numPacked; ++i) {
      const uint64_t in = c.number();
      if (in >= totalIn || inBound[in]) corrupt("a bad packed stream index in a folder");
      inBound[in] = true;
      f.packedStreams.push_back(static_cast<uint32_t>(in));
    }
  }
  f.mainCoder = static_cast<uint32_t>(std::find(outBound.begin(), outBound.end(), false) - outBound.begin());
  checkCoderTree(f);
  return f;
}

void parseUnpackInfo(Cursor& c, const ArchiveLimits& limits, StreamsInfo& si) {
  expectId(c, kFolder);
  const size_t numFolders = c.count(c.number(), limits.maxEntries, 16);
  if (c.byte() != 0) unsupported("folders stored outside the header");
  si.folders.reserve(numFolders);
  size_t packStream = 0;
  for (size_t i = 0; i < numFolders; ++i) {
    si.folders.push_back(parseFolder(c));
    si.folders.back().firstPackStream = packStream;
    packStream += si.folders.back().packedStreams.size();
  }
  if (packStream > si.packSizes.size()) corrupt("folders use more packed streams than the archive has");
  expectId(c, kCodersUnpackSize);
  for (Folder& f : si.folders)
    for (size_t k = 0; k < f.coders.size(); ++k) f.unpackSizes.push_back(c.number());
  for (uint8_t id = c.byte();; id = c.byte()) {
    id = skipUnknownUntil(c, id, {kCrc});
    if (id == kEnd) break;
    const auto crcs = readDigests(c, numFolders);
    for (size_t i = 0; i < numFolders; ++i) si.folders[i].crc = crcs[i];
  }
}

void setOneSubstreamPerFolder(StreamsInfo& si) {
  for (const Folder& f : si.folders) {
    si.substreamSizes.push_back(f.unpackSize());
    si.substreamCrcs.push_back(f.crc);
  }
}

void parseSubStreamsInfo(Cursor& c, const ArchiveLimits& limits, StreamsInfo& si) {
  uint8_t id = c.byte();
  if (id == kNumUnpackStream) {
    uint64_t total = 0;
    for (Folder& f : si.folders) {
      f.numSubstreams = c.number();
      if (f.numSubstreams > limits.maxEntries - total) unsupported("the archive holds more files than this reader accepts");
      total += f.numSubstreams;
    }
    id = c.byte();
  }
  // Each folder states all its substream sizes but the last, which is what remains of the folder.
  for (const Folder& f : si.folders) {
    if (f.numSubstreams == 0) continue;
    uint64_t sum = 0;
    if (id == kSize) {
      for (uint64_t k = 1; k < f.numSubstreams; ++k) {
        const uint64_t size = c.number();
        if (size > f.unpackSize() - sum) corrupt("substreams larger than their folder");
        sum += size;
        si.substreamSizes.push_back(size);
      }
    } else if (f.numSubstreams > 1) {
      corrupt("substream sizes are missing");
    }
    si.substreamSizes.push_back(f.unpackSize() - sum);
  }
  if (id == kSize) id = c.byte();

  // A folder of one substream with a folder CRC lends it; the CRC list has the other substreams.
  size_t numDigests = 0;
  for (const Folder& f : si.folders)
    if (!(f.numSubstreams == 1 && f.crc)) numDigests += static_cast<size_t>(f.numSubstreams);
  si.substreamCrcs.clear();
  for (const Folder& f : si.folders) {
    for (uint64_t k = 0; k < f.numSubstreams; ++k)
      si.substreamCrcs.push_back(f.numSubstreams == 1 ? f.crc : std::nullopt);
  }
  for (;; id = c.byte()) {
    id = skipUnknownUntil(c, id, {kCrc});
    if (id == kEnd) break;
    const auto crcs = readDigests(c, numDigests);
    size_t next = 0, stream = 0;
    for (const Folder& f : si.folders) {
      if (f.numSubstreams == 1 && f.crc) {
        ++stream;
        continue;
      }
      for (uint64_t k = 0; k < f.numSubstreams; ++k) si.substreamCrcs[stream++] = crcs[next++];
    }
  }
}

void parseNames(std::span<const uint8_t> data, std::vector<FileRecord>& files) {
  if (data.size() % 2) corrupt("file names of odd length");
  size_t file = 0, start = 0;
  for (size_t i = 0; i < data.size(); i += 2) {
    if (data[i] != 0 || data[i + 1] != 0) continue;
    if (file == files.size()) corrupt("more file names than files");
    files[file++].name = utf16ToUtf8(data.subspan(start, i - start));
    start = i + 2;
  }
  if (file != files.size() || start != data.size()) corrupt("fewer file names than files");
}

void parseFilesInfo(Cursor& c, const ArchiveLimits& limits, Header& h) {
  // Every real entry has at least a name terminator, so more files than header bytes is damage.
  const size_t n = c.count(c.number(), limits.maxEntries, 8);
  h.files.resize(n);
  std::vector<bool> emptyStream(n), emptyFile, anti;
  size_t numEmpty = 0;
  for (uint8_t type = c.byte(); type != kEnd; type = c.byte()) {
    Cursor p(c.take(c.number()));
    switch (type) {
      case kEmptyStream:
        emptyStream = p.bits(n);
        numEmpty = countSet(emptyStream);
        emptyFile.assign(numEmpty, false);
        anti.assign(numEmpty, false);
        break;
      case kEmptyFile:
        emptyFile = p.bits(numEmpty);
        break;
      case kAnti:
        anti = p.bits(numEmpty);
        break;
      case kName:
        if (p.byte() != 0) unsupported("file names stored outside the header");
        parseNames(p.take(p.remaining()), h.files);
        break;
      case kMTime: {
        const auto defined = p.definedBits(n);
        if (p.byte() != 0) unsupported("file times stored outside the header");
        for (size_t i = 0; i < n; ++i)
          if (defined[i]) h.files[i].modified = p.u64();
        break;
      }
      case kWinAttributes: {
        const auto defined = p.definedBits(n);
        if (p.byte() != 0) unsupported("file attributes stored outside the header");
        for (size_t i = 0; i < n; ++i)
          if (defined[i]) h.files[i].attributes = p.u32();
        break;
      }
      default:
        break;  // creation and access times, start positions, padding
    }
  }
  size_t empty = 0, withStream = 0;
  for (size_t i = 0; i < n; ++i) {
    FileRecord& f = h.files[i];
    if (emptyStream[i]) {
      f.hasStream = false;
      f.isFolder = emptyFile.empty() || !emptyFile[empty];
      f.isAnti = !anti.empty() && anti[empty];
      ++empty;
    } else {
      ++withStream;
    }
  }
  if (withStream != h.streams.substreamSizes.size()) corrupt("files and data streams do not match");
}

}  // namespace

bool Folder::encrypted() const {
  return std::any_of(coders.begin(), coders.end(), [](const Coder& k) { return k.method == kMethodAes; });
}

std::string utf16ToUtf8(std::span<const uint8_t> utf16le) {
  std::string out;
  out.reserve(utf16le.size() / 2);
  const size_t n = utf16le.size() / 2;
  auto unit = [&](size_t i) { return char32_t(utf16le[2 * i] | utf16le[2 * i + 1] << 8); };
  for (size_t i = 0; i < n; ++i) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    appendUtf8(out, c);
  }
  return out;
}

StartHeader parseSignatureHeader(std::span<const uint8_t, kSignatureHeaderSize> bytes, uint64_t inputSize) {
  if (std::memcmp(bytes.data(), kSignature, sizeof kSignature) != 0) corrupt("not a 7z archive");
  if (bytes[6] != 0) unsupported("7z format version " + std::to_string(bytes[6]));
  if (crc32(bytes.subspan(12, 20)) != le32(bytes.data() + 8)) corrupt("the archive's start header is damaged");
  StartHeader h;
  const uint64_t offset = le64(bytes.data() + 12);
  h.nextHeaderSize = le64(bytes.data() + 20);
  h.nextHeaderCrc = le32(bytes.data() + 28);
  const uint64_t room = inputSize - kSignatureHeaderSize;
  if (offset > room || h.nextHeaderSize > room - offset) corrupt("the archive is truncated");
  h.nextHeaderOffset = kSignatureHeaderSize + offset;
  return h;
}

StreamsInfo parseStreamsInfo(std::span<const uint8_t> bytes, size_t& pos, uint64_t packEnd,
                             const ArchiveLimits& limits) {
  Cursor c(bytes, pos);
  StreamsInfo si;
  uint8_t id = c.byte();
  if (id == kPackInfo) {
    parsePackInfo(c, packEnd, limits, si);
    id = c.byte();
  }
  if (id == kUnpackInfo) {
    parseUnpackInfo(c, limits, si);
    id = c.byte();
  }
  if (id == kSubStreamsInfo) {
    parseSubStreamsInfo(c, limits, si);
    id = c.byte();
  } else {
    setOneSubstreamPerFolder(si);
  }
  if (id != kEnd) corrupt("unexpected item in the streams of the archive");
  pos = c.pos();
  return si;
}

Header parseHeader(std::span<const uint8_t> bytes, uint64_t packEnd, const ArchiveLimits& limits) {
  Header h;
  Cursor c(bytes);
  uint8_t id = c.byte();
  if (id == kArchiveProperties) {
    while (c.byte() != kEnd) c.skipPropertyData();
    id = c.byte();
  }
  if (id == kAdditionalStreamsInfo) unsupported("additional header streams");
  if (id == kMainStreamsInfo) {
    size_t pos = c.pos();
    h.streams = parseStreamsInfo(bytes, pos, packEnd, limits);
    c = Cursor(bytes, pos);
    id = c.byte();
  }
  if (id == kFilesInfo) {
    parseFilesInfo(c, limits, h);
    id = c.byte();
  } else if (!h.streams.substreamSizes.empty()) {
    corrupt("data streams without files");
  }
  if (id != kEnd) corrupt("unexpected item in the archive header");
  return h;
}

}  // namespace orv::archive::sevenzip
