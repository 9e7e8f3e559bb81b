// The pieces of a 7z header that archive writers share: the byte encoding, the streams description
// (packed streams, folders and their coder chains, substreams) and the files list.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv::archive::sevenzip {

class HeaderBytes {
 public:
  std::vector<uint8_t> data;

  void byte(uint8_t b) { data.push_back(b); }
  void le(uint64_t v, int size);
  // The format's variable-length number: n leading one bits in the first byte, then n more bytes.
  void number(uint64_t v);
  void append(std::span<const uint8_t> bytes) { data.insert(data.end(), bytes.begin(), bytes.end()); }
  void bits(const std::vector<bool>& v);
  void definedBits(const std::vector<bool>& v);  // "all defined" byte, or the bit vector
  void property(uint8_t id, const HeaderBytes& body);
  void utf16(std::string_view utf8);  // UTF-16LE with its terminating zero
};

struct OutCoder {
  uint64_t method = 0;
  std::vector<uint8_t> properties;
};

struct OutStream {
  uint64_t size = 0;
  std::optional<uint32_t> crc;
};

// A folder whose coders form one chain, in the order 7-Zip writes them (some readers take no other): the
// first reads the folder's one packed stream, each next one reads the output of the one before, and the
// last yields the folder's data.
struct OutFolder {
  std::vector<OutCoder> coders;
  std::vector<uint64_t> unpackSizes;  // the output size of each coder
  uint64_t packSize = 0;
  std::vector<OutStream> substreams;  // the files in the folder's data, in order
};

// Pack, unpack and substreams info (without the leading property id), for packed streams that start
// `packPos` bytes after the signature header.
void writeStreamsInfo(HeaderBytes& h, uint64_t packPos, const std::vector<OutFolder>& folders);

struct OutFile {
  enum class Kind { File, Folder, Anti };
  std::string name;  // UTF-8
  Kind kind = Kind::File;
  bool hasStream = false;  // its bytes are the next substream
  std::optional<uint32_t> attributes;
  std::optional<uint64_t> modified;  // FILETIME
};

// The files info (with its property id).
void writeFilesInfo(HeaderBytes& h, const std::vector<OutFile>& files);

// The 32 bytes at the front of the archive, pointing at the header `offset` bytes after them.
std::array<uint8_t, 32> signatureHeader(uint64_t offset, uint64_t size, uint32_t crc);

}  // namespace orv::archive::sevenzip
