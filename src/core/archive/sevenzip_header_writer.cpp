#include "core/archive/sevenzip_header_writer.h"

#include <algorithm>

#include "core/archive/codecs.h"
#include "core/archive/sevenzip_format.h"
#include "core/text.h"

namespace orv::archive::sevenzip {

void HeaderBytes::le(uint64_t v, int size) {
  for (int i = 0; i < size; ++i) byte(static_cast<uint8_t>(v >> (8 * i)));
}

void HeaderBytes::number(uint64_t v) {
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

void HeaderBytes::bits(const std::vector<bool>& v) {
  for (size_t i = 0; i < v.size(); i += 8) {
    uint8_t b = 0;
    for (size_t k = 0; k < 8 && i + k < v.size(); ++k)
      if (v[i + k]) b |= static_cast<uint8_t>(0x80 >> k);
    byte(b);
  }
}

void HeaderBytes::definedBits(const std::vector<bool>& v) {
  const bool all = std::find(v.begin(), v.end(), false) == v.end();
  byte(all ? 1 : 0);
  if (!all) bits(v);
}

void HeaderBytes::property(uint8_t id, const HeaderBytes& body) {
  byte(id);
  number(body.data.size());
  append(body.data);
}

void HeaderBytes::utf16(std::string_view utf8) {
  for (char32_t c : toUtf32(utf8)) {
    if (c >= 0x10000) {
      c -= 0x10000;
      le(0xD800 + (c >> 10), 2);
      le(0xDC00 + (c & 0x3FF), 2);
    } else {
      le(c, 2);
    }
  }
  le(0, 2);
}

namespace {

// A folder of one substream carries its CRC as the folder's; the CRC list has the rest (as 7-Zip does).
bool crcOnFolder(const OutFolder& f) { return f.substreams.size() == 1 && f.substreams[0].crc; }

void writeDigests(HeaderBytes& h, const std::vector<std::optional<uint32_t>>& crcs) {
  std::vector<bool> defined;
  for (const auto& c : crcs) defined.push_back(c.has_value());
  h.definedBits(defined);
  for (const auto& c : crcs)
    if (c) h.le(*c, 4);
}

void writeCoder(HeaderBytes& h, const OutCoder& c) {
  uint8_t id[8];
  int idSize = 0;
  for (uint64_t m = c.method; idSize == 0 || m; m >>= 8) id[idSize++] = static_cast<uint8_t>(m);
  // Simple coders (one input, one output); the id goes most significant byte first.
  h.byte(static_cast<uint8_t>(idSize | (c.properties.empty() ? 0 : 0x20)));
  for (int i = idSize - 1; i >= 0; --i) h.byte(id[i]);
  if (!c.properties.empty()) {
    h.number(c.properties.size());
    h.append(c.properties);
  }
}

void writeFolder(HeaderBytes& h, const OutFolder& f) {
  h.number(f.coders.size());
  for (const OutCoder& c : f.coders) writeCoder(h, c);
  // Coder i + 1 reads coder i; the one input left unbound is the packed stream, so it goes unnamed.
  for (size_t i = 0; i + 1 < f.coders.size(); ++i) {
    h.number(i + 1);
    h.number(i);
  }
}

}  // namespace

void writeStreamsInfo(HeaderBytes& h, uint64_t packPos, const std::vector<OutFolder>& folders) {
  h.byte(kPackInfo);
  h.number(packPos);
  h.number(folders.size());
  h.byte(kSize);
  for (const auto& f : folders) h.number(f.packSize);
  h.byte(kEnd);

  h.byte(kUnpackInfo);
  h.byte(kFolder);
  h.number(folders.size());
  h.byte(0);
  for (const auto& f : folders) writeFolder(h, f);
  h.byte(kCodersUnpackSize);
  for (const auto& f : folders)
    for (uint64_t size : f.unpackSizes) h.number(size);
  std::vector<std::optional<uint32_t>> folderCrcs, streamCrcs;
  for (const auto& f : folders) {
    folderCrcs.push_back(crcOnFolder(f) ? f.substreams[0].crc : std::nullopt);
    if (!crcOnFolder(f))
      for (const auto& s : f.substreams) streamCrcs.push_back(s.crc);
  }
  h.byte(kCrc);
  writeDigests(h, folderCrcs);
  h.byte(kEnd);

  h.byte(kSubStreamsInfo);
  h.byte(kNumUnpackStream);
  for (const auto& f : folders) h.number(f.substreams.size());
  h.byte(kSize);
  for (const auto& f : folders)
    for (size_t k = 0; k + 1 < f.substreams.size(); ++k) h.number(f.substreams[k].size);
  if (!streamCrcs.empty()) {
    h.byte(kCrc);
    writeDigests(h, streamCrcs);
  }
  h.byte(kEnd);
  h.byte(kEnd);
}

namespace {

bool any(const std::vector<bool>& v) { return std::find(v.begin(), v.end(), true) != v.end(); }

// A property that some files have and others lack: the defined bits, "not external", then the values
// of the files that have one, each `width` bytes little-endian.
template <typename Value>
void optionalProperty(HeaderBytes& h, uint8_t id, const std::vector<OutFile>& files, const std::vector<bool>& defined,
                      std::optional<Value> OutFile::*field, int width) {
  if (!any(defined)) return;
  HeaderBytes p;
  p.definedBits(defined);
  p.byte(0);
  for (const auto& f : files)
    if (f.*field) p.le(*(f.*field), width);
  h.property(id, p);
}

}  // namespace

void writeFilesInfo(HeaderBytes& h, const std::vector<OutFile>& files) {
  h.byte(kFilesInfo);
  h.number(files.size());
  std::vector<bool> emptyStream, emptyFile, anti, timeDefined, attrDefined;
  for (const auto& f : files) {
    emptyStream.push_back(!f.hasStream);
    if (!f.hasStream) {
      emptyFile.push_back(f.kind == OutFile::Kind::File);
      anti.push_back(f.kind == OutFile::Kind::Anti);
    }
    timeDefined.push_back(f.modified.has_value());
    attrDefined.push_back(f.attributes.has_value());
  }
  if (any(emptyStream)) {
    HeaderBytes b;
    b.bits(emptyStream);
    h.property(kEmptyStream, b);
    if (any(emptyFile)) {
      HeaderBytes e;
      e.bits(emptyFile);
      h.property(kEmptyFile, e);
    }
    if (any(anti)) {
      HeaderBytes a;
      a.bits(anti);
      h.property(kAnti, a);
    }
  }
  HeaderBytes names;
  names.byte(0);
  for (const auto& f : files) names.utf16(f.name);
  h.property(kName, names);
  optionalProperty(h, kMTime, files, timeDefined, &OutFile::modified, 8);
  optionalProperty(h, kWinAttributes, files, attrDefined, &OutFile::attributes, 4);
  h.byte(kEnd);
}

std::array<uint8_t, 32> signatureHeader(uint64_t offset, uint64_t size, uint32_t crc) {
  HeaderBytes start;
  start.le(offset, 8);
  start.le(size, 8);
  start.le(crc, 4);
  HeaderBytes all;
  all.append(kSignature);
  all.byte(0);  // format version 0.4
  all.byte(4);
  all.le(crc32(start.data), 4);
  all.append(start.data);
  std::array<uint8_t, 32> out{};
  std::copy(all.data.begin(), all.data.end(), out.begin());
  return out;
}

}  // namespace orv::archive::sevenzip
