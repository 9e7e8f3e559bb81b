#include "orvmake/archive_writer.h"

#include <fcntl.h>
#include <lzma.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <utility>

#include "core/archive/aes.h"
#include "core/archive/codecs.h"
#include "core/archive/sevenzip_format.h"
#include "core/archive/sevenzip_header_writer.h"
#include "core/archive/sha256.h"
#include "core/text.h"

namespace orv::make {
namespace fs = std::filesystem;
using namespace orv::archive;
using namespace orv::archive::sevenzip;

namespace {

constexpr size_t kChunk = size_t(1) << 20;
// The key derivation's cost as 7-Zip writes it: 2^19 SHA-256 rounds.
constexpr unsigned kKeyCyclesPower = 19;
// As 7-Zip's level 5: 32 MiB at most, less when the data is smaller (the reader then needs less memory).
constexpr uint32_t kMaxDictionary = uint32_t(32) << 20;
constexpr uint32_t kMinDictionary = uint32_t(4) << 10;

constexpr uint32_t kAttributeReadOnly = 0x01, kAttributeFolder = 0x10, kAttributeArchive = 0x20;
constexpr uint32_t kAttributeUnixExtension = 0x8000;  // the Unix mode is in the high 16 bits
constexpr uint64_t kFiletimeOf1970 = 116444736000000000ull;

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

std::string systemError() { return std::strerror(errno); }

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Executables, whose relative call and jump targets the x86 filter turns absolute so LZMA2 finds more.
bool takesX86Filter(const std::string& name) {
  static const char* const kExtensions[] = {".exe", ".dll", ".sys", ".ocx", ".cpl", ".scr", ".drv", ".com"};
  for (const char* ext : kExtensions)
    if (endsWithNoCase(name, ext)) return true;
  return false;
}

enum class Chain { Plain, X86 };

struct Item {
  const PackEntry* entry = nullptr;
  uint64_t size = 0;
  std::optional<uint64_t> modified;
  uint32_t attributes = 0;
  Chain chain = Chain::Plain;

  bool hasData() const { return !entry->isFolder && size > 0; }
};

uint64_t filetimeOf(int64_t seconds, long nanoseconds) {
  if (seconds < 0) return kFiletimeOf1970 - std::min<uint64_t>(kFiletimeOf1970, uint64_t(-seconds) * 10000000u);
  return kFiletimeOf1970 + uint64_t(seconds) * 10000000u + uint64_t(nanoseconds) / 100;
}

// Characters Windows cannot hold in a name, where the archive will be unpacked.
bool badNameCharacter(char32_t c) { return c < 0x20 || std::u32string_view(U"\\:*?\"<>|").find(c) != std::u32string_view::npos; }

void checkName(const std::string& name) {
  if (fromUtf32(toUtf32(name)) != name) fail("\"" + name + "\": a name that is not UTF-8 text");
  if (name.empty() || name.front() == '/' || name.back() == '/') fail("\"" + name + "\": not a relative path");
  for (const std::string& part : split(name, "/"))
    if (part.empty() || part == "." || part == "..") fail("\"" + name + "\": a path with an empty, . or .. part");
  for (char32_t c : toUtf32(name))
    if (badNameCharacter(c)) fail("\"" + name + "\": a name with a character Windows file names cannot hold");
}

Item describe(const PackEntry& entry, const PackOptions& options) {
  checkName(entry.name);
  Item item;
  item.entry = &entry;
  item.attributes = entry.isFolder ? kAttributeFolder : kAttributeArchive;
  if (options.fixedTime) item.modified = filetimeOf(*options.fixedTime, 0);
  if (entry.source.empty()) {
    if (entry.isFolder) fail(entry.name + ": a folder needs its folder on disk");
    item.size = entry.bytes.size();
  } else {
    struct stat st {};
    if (::stat(entry.source.c_str(), &st) != 0) fail(entry.source.string() + ": " + systemError());
    const bool folder = S_ISDIR(st.st_mode);
    if (folder != entry.isFolder || (!folder && !S_ISREG(st.st_mode)))
      fail(entry.source.string() + (entry.isFolder ? ": not a folder" : ": not a plain file"));
    item.size = folder ? 0 : static_cast<uint64_t>(st.st_size);
    if (!options.fixedTime) item.modified = filetimeOf(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    if (!(st.st_mode & S_IWUSR)) item.attributes |= kAttributeReadOnly;
    item.attributes |= kAttributeUnixExtension | (static_cast<uint32_t>(st.st_mode & 0xFFFF) << 16);
  }
  item.chain = !entry.isFolder && takesX86Filter(entry.name) ? Chain::X86 : Chain::Plain;
  return item;
}

// Entries without data first, then the data of each coder chain: the substreams of a folder must follow
// the files in order. Names sorted within each group keep the order independent of the caller's.
std::vector<Item> ordered(std::vector<Item> items) {
  auto group = [](const Item& i) { return !i.hasData() ? 0 : i.chain == Chain::Plain ? 1 : 2; };
  std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
    if (group(a) != group(b)) return group(a) < group(b);
    return a.entry->name < b.entry->name;
  });
  std::map<std::string, const std::string*> seen;
  for (const Item& item : items) {
    const auto [at, added] = seen.emplace(foldKey(item.entry->name), &item.entry->name);
    if (!added) fail("\"" + *at->second + "\" and \"" + item.entry->name + "\": two entries of the same name");
  }
  return items;
}

// Reads a source in chunks: a file on disk, or the entry's bytes.
class EntryReader {
 public:
  explicit EntryReader(const PackEntry& entry) : entry_(entry) {
    if (entry.source.empty()) return;
    fd_ = std::make_unique<FileDescriptor>(::open(entry.source.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd_->get() < 0) fail(entry.source.string() + ": cannot read the file: " + systemError());
  }

  // The next bytes into `buffer`; 0 at the end.
  size_t read(uint8_t* buffer, size_t size) {
    if (!fd_) {
      const size_t n = std::min(size, entry_.bytes.size() - at_);
      std::memcpy(buffer, entry_.bytes.data() + at_, n);
      at_ += n;
      return n;
    }
    for (;;) {
      const ssize_t n = ::read(fd_->get(), buffer, size);
      if (n >= 0) return static_cast<size_t>(n);
      if (errno != EINTR) fail(entry_.source.string() + ": cannot read the file: " + systemError());
    }
  }

 private:
  const PackEntry& entry_;
  std::unique_ptr<FileDescriptor> fd_;
  size_t at_ = 0;
};

// Feeds every chunk of the item to `take`, checking that the file still has the size it had.
template <typename Take>
void readItem(const Item& item, std::vector<uint8_t>& buffer, Take take) {
  EntryReader reader(*item.entry);
  uint64_t total = 0;
  for (size_t n; (n = reader.read(buffer.data(), buffer.size())) > 0;) {
    total += n;
    if (total > item.size) break;
    take(buffer.data(), n);
  }
  if (total != item.size) fail(item.entry->source.string() + ": the file changed while it was packed");
}

// Where packed bytes go: the archive file, or memory for the header.
class PackedSink {
 public:
  virtual ~PackedSink() = default;
  virtual void write(const uint8_t* data, size_t size) = 0;
};

class MemorySink final : public PackedSink {
 public:
  std::vector<uint8_t> bytes;
  void write(const uint8_t* data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
};

class ArchiveFile final : public PackedSink {
 public:
  explicit ArchiveFile(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) fail(path + ": cannot create the archive: " + systemError());
  }
  ~ArchiveFile() override {
    if (fd_ >= 0) ::close(fd_);
    if (!kept_) ::unlink(path_.c_str());
  }
  ArchiveFile(const ArchiveFile&) = delete;
  ArchiveFile& operator=(const ArchiveFile&) = delete;

  void write(const uint8_t* data, size_t size) override {
    writeAt(written_, data, size);
    written_ += size;
  }
  void writeAt(uint64_t offset, const uint8_t* data, size_t size) {
    while (size > 0) {
      const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) fail(path_ + ": cannot write the archive: " + systemError());
      data += n;
      size -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
    }
  }
  uint64_t written() const { return written_; }
  // The archive is complete: close it and keep it.
  void keep() {
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) fail(path_ + ": cannot write the archive: " + systemError());
    kept_ = true;
  }

 private:
  std::string path_;
  int fd_ = -1;
  uint64_t written_ = 0;
  bool kept_ = false;
};

struct Encryption {
  aes::Key key;
  std::array<uint8_t, 16> salt;
  Sha256::Digest contentDigest;

  // Each folder gets its own vector, from the key and the content, so equal inputs give equal archives
  // and no two archives (or folders) share a key and vector unless their content is the same.
  aes::CbcEncryptor::Block vectorFor(const std::string& label) const {
    Sha256 h;
    const std::string tag = "orvmake archive vector " + label;
    h.update(reinterpret_cast<const uint8_t*>(tag.data()), tag.size());
    h.update(key);
    h.update(contentDigest);
    const Sha256::Digest d = h.finish();
    aes::CbcEncryptor::Block iv;
    std::copy_n(d.begin(), iv.size(), iv.begin());
    return iv;
  }
};

// AES-CBC over the packed stream, padding the last block with zeros as 7z AES does.
class EncryptingSink final : public PackedSink {
 public:
  EncryptingSink(const aes::Key& key, const aes::CbcEncryptor::Block& iv, PackedSink& out) : cbc_(key, iv), out_(out) {}

  void write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      const size_t n = std::min(size, buffer_.size() - used_);
      std::memcpy(buffer_.data() + used_, data, n);
      used_ += n;
      data += n;
      size -= n;
      if (used_ == buffer_.size()) flush();
    }
  }
  void finish() {
    const size_t padded = (used_ + 15) / 16 * 16;
    std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(used_), buffer_.begin() + static_cast<std::ptrdiff_t>(padded), 0);
    used_ = padded;
    flush();
  }

 private:
  void flush() {
    cbc_.encrypt(buffer_.data(), used_);
    out_.write(buffer_.data(), used_);
    used_ = 0;
  }

  aes::CbcEncryptor cbc_;
  PackedSink& out_;
  std::array<uint8_t, 64 * 1024> buffer_{};
  size_t used_ = 0;
};

class CountingSink final : public PackedSink {
 public:
  explicit CountingSink(PackedSink& out) : out_(out) {}
  void write(const uint8_t* data, size_t size) override {
    out_.write(data, size);
    count += size;
  }
  uint64_t count = 0;

 private:
  PackedSink& out_;
};

uint32_t dictionaryFor(uint64_t size) {
  return static_cast<uint32_t>(std::clamp<uint64_t>(size, kMinDictionary, kMaxDictionary));
}

// One folder: the data through the x86 filter (for programs) and LZMA2, then AES when encrypted. The
// single-threaded encoder keeps the output independent of the machine.
class FolderEncoder {
 public:
  FolderEncoder(Chain chain, uint64_t size, const Encryption* encryption, const std::string& label, PackedSink& out)
      : chain_(chain), counted_(out), out_(&counted_), outBuffer_(kChunk) {
    if (lzma_lzma_preset(&lzma2_, 6)) fail("the LZMA2 encoder has no preset 6");
    // As 7-Zip's level 5: a shorter match search than preset 6 for nearly the same size, faster.
    lzma2_.nice_len = 32;
    lzma2_.dict_size = dictionaryFor(size);
    lzma_filter filters[3];
    size_t n = 0;
    if (chain == Chain::X86) filters[n++] = {LZMA_FILTER_X86, nullptr};
    filters[n++] = {LZMA_FILTER_LZMA2, &lzma2_};
    filters[n] = {LZMA_VLI_UNKNOWN, nullptr};
    if (const lzma_ret r = lzma_raw_encoder(&stream_, filters); r != LZMA_OK)
      fail("cannot start the LZMA2 encoder (liblzma error " + std::to_string(r) + ")");
    uint8_t props = 0;
    if (lzma_properties_encode(&filters[n - 1], &props) != LZMA_OK) fail("cannot encode the LZMA2 properties");
    lzma2Properties_ = {props};
    if (encryption) {
      const auto iv = encryption->vectorFor(label);
      aesProperties_ = aes::coderProperties(kKeyCyclesPower, encryption->salt, iv);
      encrypting_ = std::make_unique<EncryptingSink>(encryption->key, iv, counted_);
      out_ = encrypting_.get();
    }
  }
  ~FolderEncoder() { lzma_end(&stream_); }
  FolderEncoder(const FolderEncoder&) = delete;
  FolderEncoder& operator=(const FolderEncoder&) = delete;

  void feed(const uint8_t* data, size_t size) {
    unpacked_ += size;
    stream_.next_in = data;
    stream_.avail_in = size;
    while (stream_.avail_in > 0) code(LZMA_RUN);
  }

  // Ends the streams; the folder as the header describes it.
  OutFolder finish(std::vector<OutStream> substreams) {
    while (code(LZMA_FINISH) != LZMA_STREAM_END) {
    }
    if (encrypting_) encrypting_->finish();
    OutFolder folder;  // from the packed stream to the data
    if (encrypting_) {
      folder.coders.push_back({kMethodAes, aesProperties_});
      folder.unpackSizes.push_back(lzma2Bytes_);
    }
    folder.coders.push_back({kMethodLzma2, lzma2Properties_});
    folder.unpackSizes.push_back(unpacked_);
    if (chain_ == Chain::X86) {
      folder.coders.push_back({kMethodBcjX86, {}});
      folder.unpackSizes.push_back(unpacked_);
    }
    folder.packSize = counted_.count;
    folder.substreams = std::move(substreams);
    return folder;
  }

 private:
  lzma_ret code(lzma_action action) {
    stream_.next_out = outBuffer_.data();
    stream_.avail_out = outBuffer_.size();
    const lzma_ret r = lzma_code(&stream_, action);
    if (r != LZMA_OK && r != LZMA_STREAM_END) fail("the LZMA2 encoder failed (liblzma error " + std::to_string(r) + ")");
    const size_t produced = outBuffer_.size() - stream_.avail_out;
    lzma2Bytes_ += produced;
    out_->write(outBuffer_.data(), produced);
    return r;
  }

  Chain chain_;
  lzma_options_lzma lzma2_{};
  lzma_stream stream_ = LZMA_STREAM_INIT;
  std::vector<uint8_t> lzma2Properties_, aesProperties_;
  CountingSink counted_;
  std::unique_ptr<EncryptingSink> encrypting_;
  PackedSink* out_;
  std::vector<uint8_t> outBuffer_;
  uint64_t unpacked_ = 0, lzma2Bytes_ = 0;
};

std::u16string utf16Of(const std::string& utf8) {
  std::u16string out;
  for (char32_t c : toUtf32(utf8)) {
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

class Packer {
 public:
  Packer(const std::vector<PackEntry>& entries, const PackOptions& options) : options_(options), buffer_(kChunk) {
    std::vector<Item> items;
    for (const PackEntry& e : entries) items.push_back(describe(e, options));
    items_ = ordered(std::move(items));
    for (const Item& item : items_) {
      if (item.entry->isFolder) continue;
      ++progress_.filesTotal;
      progress_.bytesTotal += item.size;
      if (!item.hasData()) ++progress_.filesDone;  // nothing to read
    }
  }

  void write(const std::string& path) {
    if (!options_.password.empty()) encryption_ = deriveEncryption();
    ArchiveFile file(path);
    file_ = &file;
    const std::array<uint8_t, 32> placeholder{};
    file.write(placeholder.data(), placeholder.size());
    std::vector<OutFolder> folders;
    for (Chain chain : {Chain::Plain, Chain::X86})
      if (auto folder = packChain(chain, file)) folders.push_back(std::move(*folder));
    writeHeader(folders, file);
    file_ = nullptr;
    file.keep();
  }

 private:
  void report() {
    if (!options_.progress) return;
    progress_.bytesWritten = file_ ? file_->written() : 0;
    options_.progress(progress_);
  }

  // A folder of every file with data in the chain, solid; none when the chain has no data.
  std::optional<OutFolder> packChain(Chain chain, PackedSink& out) {
    uint64_t size = 0;
    for (const Item& item : items_)
      if (item.hasData() && item.chain == chain) size += item.size;
    if (size == 0) return std::nullopt;
    FolderEncoder encoder(chain, size, encryption_ ? &*encryption_ : nullptr,
                          chain == Chain::X86 ? "x86" : "plain", out);
    std::vector<OutStream> substreams;
    for (const Item& item : items_) {
      if (!item.hasData() || item.chain != chain) continue;
      uint32_t crc = 0;
      readItem(item, buffer_, [&](const uint8_t* data, size_t n) {
        crc = crc32({data, n}, crc);
        encoder.feed(data, n);
        progress_.bytesRead += n;
        report();
      });
      substreams.push_back({item.size, crc});
      ++progress_.filesDone;
      report();
    }
    return encoder.finish(std::move(substreams));
  }

  void writeHeader(const std::vector<OutFolder>& folders, ArchiveFile& file) {
    const uint64_t packedData = file.written() - 32;
    HeaderBytes header;
    header.byte(kHeader);
    if (!folders.empty()) {
      header.byte(kMainStreamsInfo);
      writeStreamsInfo(header, 0, folders);
    }
    std::vector<OutFile> files;
    for (const Item& item : items_) {
      files.push_back({item.entry->name, item.entry->isFolder ? OutFile::Kind::Folder : OutFile::Kind::File,
                       item.hasData(), item.attributes, item.modified});
    }
    if (!files.empty()) writeFilesInfo(header, files);
    header.byte(kEnd);

    // The header is packed like the data, encrypted too when the data is, so even the names need the password.
    MemorySink packed;
    FolderEncoder encoder(Chain::Plain, header.data.size(), encryption_ ? &*encryption_ : nullptr, "header", packed);
    encoder.feed(header.data.data(), header.data.size());
    const OutFolder headerFolder = encoder.finish({{header.data.size(), crc32(header.data)}});
    file.write(packed.bytes.data(), packed.bytes.size());

    HeaderBytes tail;
    tail.byte(kEncodedHeader);
    writeStreamsInfo(tail, packedData, {headerFolder});
    const uint64_t tailOffset = file.written() - 32;
    file.write(tail.data.data(), tail.data.size());
    const auto start = signatureHeader(tailOffset, tail.data.size(), crc32(tail.data));
    file.writeAt(0, start.data(), start.size());
    report();
  }

  // The salt and vectors come from a digest of the content rather than chance, so the same input and
  // password give the same archive while different content gets different ones.
  Encryption deriveEncryption() {
    Sha256 digest;
    for (const Item& item : items_) {
      const std::string head = item.entry->name + '\0' + std::to_string(item.size) + '\0';
      digest.update(reinterpret_cast<const uint8_t*>(head.data()), head.size());
      if (item.hasData()) readItem(item, buffer_, [&](const uint8_t* data, size_t n) { digest.update(data, n); });
    }
    Encryption e;
    e.contentDigest = digest.finish();
    Sha256 salt;
    const std::string tag = "orvmake archive salt";
    salt.update(reinterpret_cast<const uint8_t*>(tag.data()), tag.size());
    salt.update(e.contentDigest);
    const Sha256::Digest s = salt.finish();
    std::copy_n(s.begin(), e.salt.size(), e.salt.begin());
    e.key = aes::deriveKey(kKeyCyclesPower, e.salt, utf16Of(options_.password));
    return e;
  }

  const PackOptions& options_;
  std::vector<Item> items_;
  std::vector<uint8_t> buffer_;
  std::optional<Encryption> encryption_;
  PackProgress progress_;
  ArchiveFile* file_ = nullptr;
};

}  // namespace

std::vector<PackEntry> entriesOfFolder(const fs::path& folder, const std::string& prefix) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) fail(folder.string() + ": the folder does not exist");
  std::vector<PackEntry> entries;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const fs::path& path = it->path();
    const bool link = it->is_symlink(error);
    PackEntry entry;
    entry.name = prefix + fs::relative(path, folder).generic_string();
    entry.source = path;
    if (it->is_directory(error)) {
      if (link) fail(path.string() + ": a link to a folder is not packed");
      entry.isFolder = true;
    } else if (!it->is_regular_file(error)) {
      fail(path.string() + ": neither a file nor a folder");
    }
    entries.push_back(std::move(entry));
  }
  if (error) fail(folder.string() + ": cannot read the folder: " + error.message());
  return entries;
}

std::optional<int64_t> sourceDateEpoch() {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  int64_t seconds = 0;
  if (!text || !parseInt64(text, seconds)) return std::nullopt;
  return seconds;
}

void writeArchive(const std::string& path, const std::vector<PackEntry>& entries, const PackOptions& options) {
  Packer(entries, options).write(path);
}

}  // namespace orv::make
