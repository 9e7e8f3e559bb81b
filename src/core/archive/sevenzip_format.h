// The 7z header as the reader holds it after parsing and checking, and the parsers that build it.
// Internal to the archive reader and its tests.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/archive/sevenzip.h"

namespace orv::archive::sevenzip {

inline constexpr uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
inline constexpr size_t kSignatureHeaderSize = 32;
// A folder never needs more than a handful of coders (BCJ2 with three LZMA coders and AES on each
// packed stream is among the largest real ones); more is refused as unsupported.
inline constexpr size_t kMaxCoders = 32;
inline constexpr size_t kMaxCoderStreams = 32;

enum PropertyId : uint8_t {
  kEnd = 0x00,
  kHeader = 0x01,
  kArchiveProperties = 0x02,
  kAdditionalStreamsInfo = 0x03,
  kMainStreamsInfo = 0x04,
  kFilesInfo = 0x05,
  kPackInfo = 0x06,
  kUnpackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnpackSize = 0x0C,
  kNumUnpackStream = 0x0D,
  kEmptyStream = 0x0E,
  kEmptyFile = 0x0F,
  kAnti = 0x10,
  kName = 0x11,
  kCTime = 0x12,
  kATime = 0x13,
  kMTime = 0x14,
  kWinAttributes = 0x15,
  kComment = 0x16,
  kEncodedHeader = 0x17,
  kStartPos = 0x18,
  kDummy = 0x19,
};

struct Coder {
  uint64_t method = 0;
  std::vector<uint8_t> properties;
  uint32_t numInStreams = 1;  // every coder has exactly one output
  uint32_t firstInStream = 0;  // index of its first input among the folder's inputs
};

// Input `inIndex` (counted over all coders' inputs) reads the output of coder `outIndex`.
struct BindPair {
  uint32_t inIndex = 0;
  uint32_t outIndex = 0;
};

struct Folder {
  std::vector<Coder> coders;
  std::vector<BindPair> bindPairs;
  std::vector<uint32_t> packedStreams;  // the input fed by the folder's n-th packed stream
  std::vector<uint64_t> unpackSizes;    // output size of each coder
  std::optional<uint32_t> crc;
  uint32_t mainCoder = 0;  // the coder whose output is the folder's unpacked stream
  size_t firstPackStream = 0;
  uint64_t numSubstreams = 1;

  uint64_t unpackSize() const { return unpackSizes[mainCoder]; }
  bool encrypted() const;
};

struct StreamsInfo {
  std::vector<uint64_t> packOffsets;  // absolute offsets in the archive
  std::vector<uint64_t> packSizes;
  std::vector<Folder> folders;
  std::vector<uint64_t> substreamSizes;  // in folder order
  std::vector<std::optional<uint32_t>> substreamCrcs;
};

struct FileRecord {
  std::string name;
  bool hasStream = true;
  bool isFolder = false;
  bool isAnti = false;
  std::optional<uint32_t> attributes;
  std::optional<uint64_t> modified;
};

struct Header {
  StreamsInfo streams;
  std::vector<FileRecord> files;
};

// Where the next header lies, from the signature header.
struct StartHeader {
  uint64_t nextHeaderOffset = 0;  // absolute
  uint64_t nextHeaderSize = 0;
  uint32_t nextHeaderCrc = 0;
};

// Checks the signature, version and CRC of the first 32 bytes and that the header lies inside the input.
StartHeader parseSignatureHeader(std::span<const uint8_t, kSignatureHeaderSize> bytes, uint64_t inputSize);

// Parses StreamsInfo (after its property id). Packed streams lie between the signature header and the
// header, so they must end by `packEnd` (the header's offset).
StreamsInfo parseStreamsInfo(std::span<const uint8_t> bytes, size_t& pos, uint64_t packEnd,
                             const ArchiveLimits& limits);
// Parses a header that starts after its kHeader id.
Header parseHeader(std::span<const uint8_t> bytes, uint64_t packEnd, const ArchiveLimits& limits);

std::string utf16ToUtf8(std::span<const uint8_t> utf16le);

}  // namespace orv::archive::sevenzip
