#include "core/archive/sevenzip_writer.h"

#include <algorithm>

#include "core/archive/codecs.h"
#include "core/archive/sevenzip_format.h"
#include "core/text.h"

namespace orv::archive {

using namespace sevenzip;

namespace {

class Bytes {
 public:
  std::vector<uint8_t> data;

  void byte(uint8_t b) { data.push_back(b); }
  void le(uint64_t v, int size) {
    for (int i = 0; i < size; ++i) byte(static_cast<uint8_t>(v >> (8 * i)));
  }
  // The format's variable-length number: n leading one bits in the first byte, then n more bytes.
  void number(uint64_t v) {
    for (int n = 0; n < 8; ++n) {
      if (v < (uint64_t(1) << (7 * n + 7))) {
        byte(static_cast<uint8_t>(((0xFF00 >> n) & 0xFF) | (v >> (8 * n))));
        le(v, n);
        return;
      }
    }
    byte(0xFF);
    le(v, 8);
  }
  void append(std::span<const uint8_t> bytes) { data.insert(data.end(), bytes.begin(), bytes.end()); }
  void bits(const std::vector<bool>& v) {
    for (size_t i = 0; i < v.size(); i += 8) {
      uint8_t b = 0;
      for (size_t k = 0; k < 8 && i + k < v.size(); ++k)
        if (v[i + k]) b |= static_cast<uint8_t>(0x80 >> k);
      byte(b);
    }
  }
  void definedBits(const std::vector<bool>& v) {
    const bool all = std::find(v.begin(), v.end(), false) == v.end();
    byte(all ? 1 : 0);
    if (!all) bits(v);
  }
  // A property of the files list: id, size, bytes.
  void property(uint8_t id, const Bytes& body) {
    byte(id);
    number(body.data.size());
    append(body.data);
  }
};

uint64_t dataSize(const WriterEntry& e) { return e.data.empty() ? e.zeroBytes : e.data.size(); }
bool hasData(const WriterEntry& e) { return e.kind == WriterEntry::Kind::File && dataSize(e) > 0; }

void appendUtf16(Bytes& b, std::string_view utf8) {
  for (char32_t c : toUtf32(utf8)) {
    if (c >= 0x10000) {
      c -= 0x10000;
      b.le(0xD800 + (c >> 10), 2);
      b.le(0xDC00 + (c & 0x3FF), 2);
    } else {
      b.le(c, 2);
    }
  }
  b.le(0, 2);
}

struct Stream {
  uint64_t size = 0;
  std::optional<uint32_t> crc;
};
using Folders = std::vector<std::vector<Stream>>;

uint64_t folderSize(const std::vector<Stream>& streams) {
  uint64_t total = 0;
  for (const auto& s : streams) total += s.size;
  return total;
}

// A folder of one substream carries its CRC as the folder's; the CRC list has the rest (as 7-Zip does).
bool crcOnFolder(const std::vector<Stream>& streams) { return streams.size() == 1 && streams[0].crc; }

void writeDigests(Bytes& h, const std::vector<std::optional<uint32_t>>& crcs) {
  std::vector<bool> defined;
  for (const auto& c : crcs) defined.push_back(c.has_value());
  h.definedBits(defined);
  for (const auto& c : crcs)
    if (c) h.le(*c, 4);
}

// A folder with one copy coder per entry of `folders`, each stored as one packed stream.
void writeStreams(Bytes& h, uint64_t packPos, const Folders& folders) {
  h.byte(kPackInfo);
  h.number(packPos);
  h.number(folders.size());
  h.byte(kSize);
  for (const auto& f : folders) h.number(folderSize(f));
  h.byte(kEnd);

  h.byte(kUnpackInfo);
  h.byte(kFolder);
  h.number(folders.size());
  h.byte(0);
  for (size_t i = 0; i < folders.size(); ++i) {
    h.number(1);   // one coder
    h.byte(0x01);  // a one-byte method id, simple coder, no properties
    h.byte(kMethodCopy);
  }
  h.byte(kCodersUnpackSize);
  for (const auto& f : folders) h.number(folderSize(f));
  std::vector<std::optional<uint32_t>> folderCrcs, streamCrcs;
  for (const auto& f : folders) {
    folderCrcs.push_back(crcOnFolder(f) ? f[0].crc : std::nullopt);
    if (!crcOnFolder(f))
      for (const auto& s : f) streamCrcs.push_back(s.crc);
  }
  h.byte(kCrc);
  writeDigests(h, folderCrcs);
  h.byte(kEnd);

  h.byte(kSubStreamsInfo);
  h.byte(kNumUnpackStream);
  for (const auto& f : folders) h.number(f.size());
  h.byte(kSize);
  for (const auto& f : folders)
    for (size_t k = 0; k + 1 < f.size(); ++k) h.number(f[k].size);
  if (!streamCrcs.empty()) {
    h.byte(kCrc);
    writeDigests(h, streamCrcs);
  }
  h.byte(kEnd);
  h.byte(kEnd);
}

void writeFiles(Bytes& h, const std::vector<WriterEntry>& entries) {
  h.byte(kFilesInfo);
  h.number(entries.size());
  std::vector<bool> emptyStream, emptyFile, anti, timeDefined, attrDefined;
  for (const auto& e : entries) {
    const bool empty = !hasData(e);
    emptyStream.push_back(empty);
    if (empty) {
      emptyFile.push_back(e.kind == WriterEntry::Kind::File);
      anti.push_back(e.kind == WriterEntry::Kind::Anti);
    }
    timeDefined.push_back(e.modified.has_value());
    attrDefined.push_back(e.attributes.has_value());
  }
  auto any = [](const std::vector<bool>& v) { return std::find(v.begin(), v.end(), true) != v.end(); };
  if (any(emptyStream)) {
    Bytes b;
    b.bits(emptyStream);
    h.property(kEmptyStream, b);
    if (any(emptyFile)) {
      Bytes f;
      f.bits(emptyFile);
      h.property(kEmptyFile, f);
    }
    if (any(anti)) {
      Bytes a;
      a.bits(anti);
      h.property(kAnti, a);
    }
  }
  Bytes names;
  names.byte(0);
  for (const auto& e : entries) appendUtf16(names, e.name);
  h.property(kName, names);
  if (any(timeDefined)) {
    Bytes t;
    t.definedBits(timeDefined);
    t.byte(0);
    for (const auto& e : entries)
      if (e.modified) t.le(*e.modified, 8);
    h.property(kMTime, t);
  }
  if (any(attrDefined)) {
    Bytes a;
    a.definedBits(attrDefined);
    a.byte(0);
    for (const auto& e : entries)
      if (e.attributes) a.le(*e.attributes, 4);
    h.property(kWinAttributes, a);
  }
  h.byte(kEnd);
}

class VectorOutput final : public ArchiveOutput {
 public:
  std::vector<uint8_t> bytes;
  void write(std::span<const uint8_t> b) override { bytes.insert(bytes.end(), b.begin(), b.end()); }
  void writeZeros(uint64_t count) override { bytes.resize(bytes.size() + static_cast<size_t>(count)); }
};

}  // namespace

void writeCopyArchive(const std::vector<WriterEntry>& entries, const WriterOptions& options, ArchiveOutput& out) {
  Folders folders;
  uint64_t packed = 0;
  for (const auto& e : entries) {
    if (!hasData(e)) continue;
    if (folders.empty() || !options.solid) folders.emplace_back();
    folders.back().push_back({dataSize(e), e.data.empty() ? std::nullopt : std::optional<uint32_t>(crc32(e.data))});
    packed += dataSize(e);
  }

  Bytes header;
  header.byte(kHeader);
  if (!folders.empty()) {
    header.byte(kMainStreamsInfo);
    writeStreams(header, 0, folders);
  }
  if (!entries.empty()) writeFiles(header, entries);
  header.byte(kEnd);

  Bytes tail = header;
  if (options.packHeader) {
    tail = Bytes();
    tail.byte(kEncodedHeader);
    writeStreams(tail, packed, {{{header.data.size(), crc32(header.data)}}});
  }
  const uint64_t tailOffset = packed + (options.packHeader ? header.data.size() : 0);

  Bytes start;
  start.le(tailOffset, 8);
  start.le(tail.data.size(), 8);
  start.le(crc32(tail.data), 4);
  Bytes signature;
  signature.append(kSignature);
  signature.byte(0);
  signature.byte(4);
  signature.le(crc32(start.data), 4);
  signature.append(start.data);

  out.write(signature.data);
  for (const auto& e : entries) {
    if (!hasData(e)) continue;
    if (e.data.empty())
      out.writeZeros(e.zeroBytes);
    else
      out.write(e.data);
  }
  if (options.packHeader) out.write(header.data);
  out.write(tail.data);
}

std::vector<uint8_t> writeCopyArchive(const std::vector<WriterEntry>& entries, const WriterOptions& options) {
  VectorOutput out;
  writeCopyArchive(entries, options, out);
  return std::move(out.bytes);
}

void refreshHeaderCrcs(std::vector<uint8_t>& a) {
  if (a.size() < kSignatureHeaderSize) return;
  auto le = [&](size_t at, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | a[at + i];
    return v;
  };
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) a[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  const uint64_t room = a.size() - kSignatureHeaderSize, offset = le(12, 8), size = le(20, 8);
  if (offset <= room && size <= room - offset) {
    const auto header = std::span<const uint8_t>(a).subspan(static_cast<size_t>(kSignatureHeaderSize + offset),
                                                            static_cast<size_t>(size));
    put32(28, crc32(header));
  }
  put32(8, crc32(std::span<const uint8_t>(a).subspan(12, 20)));
}

}  // namespace orv::archive
