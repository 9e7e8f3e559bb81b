#include "core/archive/sevenzip.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "core/archive/codecs.h"
#include "core/archive/sevenzip_folder.h"
#include "core/archive/sevenzip_format.h"

namespace orv::archive {

using namespace sevenzip;

namespace {

[[noreturn]] void corrupt(const std::string& what) { throw ArchiveError(ArchiveErrorKind::Corrupt, what); }

// Entries are handed to sinks in pieces of this size: large enough that per-call costs vanish.
constexpr size_t kChunkSize = size_t(1) << 20;
// Set on attributes written on Unix, with the file mode in the upper 16 bits.
constexpr uint32_t kUnixExtension = 0x8000;

std::optional<uint32_t> windowsAttributes(std::optional<uint32_t> stored) {
  if (stored && (*stored & kUnixExtension)) return *stored & 0x7FFF;
  return stored;
}

}  // namespace

size_t MemoryInput::readAt(uint64_t offset, uint8_t* dst, size_t size) {
  if (offset >= data_.size()) return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(size, data_.size() - offset));
  std::memcpy(dst, data_.data() + offset, n);
  return n;
}

struct SevenZipArchive::Impl {
  struct Location {
    bool hasStream = false;
    size_t folder = 0;
    uint64_t offset = 0;  // in the folder's unpacked stream
  };

  ArchiveInput& input;
  PasswordSupplier supplier;
  ArchiveLimits limits;
  Header header;
  std::vector<ArchiveEntry> entries;
  std::vector<Location> locations;
  std::optional<std::u16string> password;  // the one that opened the header, or the one asked for data
  bool askedForDataPassword = false;
  uint64_t headerOffset = 0;  // packed streams end here

  Impl(ArchiveInput& in, PasswordSupplier pw, ArchiveLimits lim)
      : input(in), supplier(std::move(pw)), limits(lim) {}

  std::vector<uint8_t> readBytes(uint64_t offset, uint64_t size) {
    std::vector<uint8_t> out(static_cast<size_t>(size));
    size_t done = 0;
    while (done < out.size()) {
      const size_t n = input.readAt(offset + done, out.data() + done, out.size() - done);
      if (n == 0) corrupt("the archive is truncated");
      done += n;
    }
    return out;
  }

  void open() {
    if (input.size() < kSignatureHeaderSize) corrupt("not a 7z archive");
    const auto signature = readBytes(0, kSignatureHeaderSize);
    const StartHeader start =
        parseSignatureHeader(std::span<const uint8_t, kSignatureHeaderSize>(signature.data(), kSignatureHeaderSize),
                             input.size());
    if (start.nextHeaderSize == 0) return;  // an archive without entries
    if (start.nextHeaderSize > limits.maxHeaderSize)
      throw ArchiveError(ArchiveErrorKind::Unsupported, "the archive header is too large");
    headerOffset = start.nextHeaderOffset;
    const auto bytes = readBytes(start.nextHeaderOffset, start.nextHeaderSize);
    if (crc32(bytes) != start.nextHeaderCrc) corrupt("the archive header is damaged");
    if (bytes[0] == kEncodedHeader) {
      size_t pos = 1;
      const StreamsInfo packed = parseStreamsInfo(bytes, pos, headerOffset, limits);
      if (packed.folders.size() != 1) corrupt("a packed header must be one folder");
      header = decodePackedHeader(packed);
    } else {
      header = parsePlainHeader(bytes);
    }
    buildEntries();
  }

  Header parsePlainHeader(std::span<const uint8_t> bytes) {
    if (bytes.empty() || bytes[0] != kHeader) corrupt("the archive header is damaged");
    return parseHeader(bytes.subspan(1), headerOffset, limits);
  }

  std::vector<uint8_t> decodeWholeFolder(const StreamsInfo& si, const std::u16string* pw) {
    const Folder& folder = si.folders[0];
    if (folder.unpackSize() > limits.maxHeaderSize)
      throw ArchiveError(ArchiveErrorKind::Unsupported, "the archive header is too large");
    FolderStream stream(input, si, 0, pw);
    std::vector<uint8_t> out(static_cast<size_t>(folder.unpackSize()));
    size_t done = 0;
    while (done < out.size()) done += stream.read(out.data() + done, out.size() - done);
    if (folder.crc && crc32(out) != *folder.crc) corrupt("the archive header is damaged");
    return out;
  }

  // An encrypted header is tried with each password the supplier offers: a wrong one shows as
  // damage (the format has no password check), so only damage leads to the next attempt.
  Header decodePackedHeader(const StreamsInfo& packed) {
    if (!packed.folders[0].encrypted()) return parsePlainHeader(decodeWholeFolder(packed, nullptr));
    for (int attempt = 0; attempt < limits.maxPasswordAttempts; ++attempt) {
      auto offered = supplier ? supplier() : std::nullopt;
      if (!offered) break;
      try {
        Header h = parsePlainHeader(decodeWholeFolder(packed, &*offered));
        password = std::move(offered);
        return h;
      } catch (const ArchiveError& e) {
        if (e.kind() != ArchiveErrorKind::Corrupt && e.kind() != ArchiveErrorKind::WrongPassword) throw;
      }
    }
    throw ArchiveError(ArchiveErrorKind::WrongPassword, "the archive is encrypted: no password or a wrong one");
  }

  void buildEntries() {
    const StreamsInfo& si = header.streams;
    size_t folder = 0, stream = 0;
    uint64_t inFolder = 0, offset = 0;
    for (const FileRecord& f : header.files) {
      if (f.isAnti) continue;
      ArchiveEntry e;
      e.name = f.name;
      e.isFolder = f.isFolder;
      e.attributes = windowsAttributes(f.attributes);
      e.modified = f.modified;
      Location loc;
      if (f.hasStream) {
        // The parser matched the count of files with data to the count of substreams.
        while (inFolder == si.folders[folder].numSubstreams) {
          ++folder;
          inFolder = offset = 0;
        }
        e.size = si.substreamSizes[stream];
        e.crc = si.substreamCrcs[stream];
        e.encrypted = si.folders[folder].encrypted();
        loc = {true, folder, offset};
        offset += e.size;
        ++inFolder;
        ++stream;
      }
      entries.push_back(std::move(e));
      locations.push_back(loc);
    }
  }

  const std::u16string& dataPassword() {
    if (!password && !askedForDataPassword && supplier) {
      askedForDataPassword = true;
      password = supplier();
    }
    if (!password) throw ArchiveError(ArchiveErrorKind::WrongPassword, "the archive is encrypted: no password given");
    return *password;
  }

  void copyEntry(FolderStream& stream, const ArchiveEntry& e, EntryOutput* out, std::vector<uint8_t>& buffer) {
    uint32_t crc = 0;
    for (uint64_t left = e.size; left > 0;) {
      const size_t n = stream.read(buffer.data(), static_cast<size_t>(std::min<uint64_t>(left, buffer.size())));
      if (out) {
        crc = crc32(std::span<const uint8_t>(buffer.data(), n), crc);
        out->write(buffer.data(), n);
      }
      left -= n;
    }
    if (out && e.crc && crc != *e.crc) corrupt("CRC mismatch in " + e.name);
  }

  void extract(const std::vector<bool>& chosen, ExtractSink& sink) {
    if (!chosen.empty() && chosen.size() != entries.size())
      throw std::invalid_argument("the choice of entries does not match the archive");
    std::vector<uint8_t> buffer;
    std::unique_ptr<FolderStream> stream;
    size_t streamFolder = SIZE_MAX;
    uint64_t position = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (!chosen.empty() && !chosen[i]) continue;
      const ArchiveEntry& e = entries[i];
      const Location& loc = locations[i];
      if (!loc.hasStream) {
        if (auto out = sink.open(i, e)) out->commit();
        continue;
      }
      if (buffer.empty()) buffer.resize(kChunkSize);
      try {
        if (streamFolder != loc.folder) {
          stream.reset();
          stream = std::make_unique<FolderStream>(input, header.streams, loc.folder,
                                                  e.encrypted ? &dataPassword() : nullptr);
          streamFolder = loc.folder;
          position = 0;
        }
        // Entries of a folder come in the order of its stream, so the skip is never backwards.
        stream->skip(loc.offset - position, buffer);
        position = loc.offset + e.size;
        auto out = sink.open(i, e);
        copyEntry(*stream, e, out.get(), buffer);
        if (out) out->commit();
      } catch (const ArchiveError& err) {
        // Without a password check in the format, a wrong password shows as damage of the data.
        if (e.encrypted && err.kind() == ArchiveErrorKind::Corrupt)
          throw ArchiveError(ArchiveErrorKind::WrongPassword, std::string(err.what()) + " (wrong password?)");
        throw;
      }
    }
  }
};

SevenZipArchive::SevenZipArchive(ArchiveInput& input, PasswordSupplier password, ArchiveLimits limits)
    : impl_(std::make_unique<Impl>(input, std::move(password), limits)) {
  impl_->open();
}

SevenZipArchive::~SevenZipArchive() = default;

const std::vector<ArchiveEntry>& SevenZipArchive::entries() const { return impl_->entries; }

void SevenZipArchive::extract(const std::vector<bool>& chosen, ExtractSink& sink) { impl_->extract(chosen, sink); }

}  // namespace orv::archive
