#include "core/archive/sevenzip_writer.h"

#include <algorithm>

#include "core/archive/codecs.h"
#include "core/archive/sevenzip_format.h"
#include "core/archive/sevenzip_header_writer.h"

namespace orv::archive {

using namespace sevenzip;

namespace {

uint64_t dataSize(const WriterEntry& e) { return e.data.empty() ? e.zeroBytes : e.data.size(); }
bool hasData(const WriterEntry& e) { return e.kind == WriterEntry::Kind::File && dataSize(e) > 0; }

OutFolder copyFolder() {
  OutFolder f;
  f.coders.push_back({kMethodCopy, {}});
  return f;
}

void closeCopyFolder(OutFolder& f) {
  uint64_t total = 0;
  for (const auto& s : f.substreams) total += s.size;
  f.packSize = total;
  f.unpackSizes = {total};
}

std::vector<OutFile> filesOf(const std::vector<WriterEntry>& entries) {
  std::vector<OutFile> files;
  for (const auto& e : entries)
    files.push_back({e.name, static_cast<OutFile::Kind>(e.kind), hasData(e), e.attributes, e.modified});
  return files;
}

class VectorOutput final : public ArchiveOutput {
 public:
  std::vector<uint8_t> bytes;
  void write(std::span<const uint8_t> b) override { bytes.insert(bytes.end(), b.begin(), b.end()); }
  void writeZeros(uint64_t count) override { bytes.resize(bytes.size() + static_cast<size_t>(count)); }
};

}  // namespace

void writeCopyArchive(const std::vector<WriterEntry>& entries, const WriterOptions& options, ArchiveOutput& out) {
  std::vector<OutFolder> folders;
  uint64_t packed = 0;
  for (const auto& e : entries) {
    if (!hasData(e)) continue;
    if (folders.empty() || !options.solid) folders.push_back(copyFolder());
    folders.back().substreams.push_back(
        {dataSize(e), e.data.empty() ? std::nullopt : std::optional<uint32_t>(crc32(e.data))});
    packed += dataSize(e);
  }
  for (auto& f : folders) closeCopyFolder(f);

  HeaderBytes header;
  header.byte(kHeader);
  if (!folders.empty()) {
    header.byte(kMainStreamsInfo);
    writeStreamsInfo(header, 0, folders);
  }
  if (!entries.empty()) writeFilesInfo(header, filesOf(entries));
  header.byte(kEnd);

  HeaderBytes tail = header;
  if (options.packHeader) {
    tail = HeaderBytes();
    tail.byte(kEncodedHeader);
    OutFolder packedHeader = copyFolder();
    packedHeader.substreams.push_back({header.data.size(), crc32(header.data)});
    closeCopyFolder(packedHeader);
    writeStreamsInfo(tail, packed, {packedHeader});
  }
  const uint64_t tailOffset = packed + (options.packHeader ? header.data.size() : 0);

  out.write(signatureHeader(tailOffset, tail.data.size(), crc32(tail.data)));
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
