#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "core/archive/codecs.h"
#include "core/archive/entry_path.h"
#include "core/archive/sevenzip.h"
#include "core/archive/sevenzip_format.h"
#include "core/archive/sevenzip_writer.h"

namespace orv::archive {
namespace {

using Bytes = std::vector<uint8_t>;
using Kind = ArchiveErrorKind;

std::string fixture(const std::string& name) { return std::string(ORV_FIXTURES) + "/7z/" + name; }

Bytes readFile(const std::string& utf8Path) {
  std::ifstream in(std::filesystem::path(std::u8string(utf8Path.begin(), utf8Path.end())), std::ios::binary);
  EXPECT_TRUE(in) << utf8Path;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

// Collects what extraction hands over; an entry counts only once committed.
class MemorySink final : public ExtractSink {
 public:
  std::map<std::string, Bytes> files;
  std::set<std::string> folders;
  std::vector<std::string> opened;
  size_t cancelAt = SIZE_MAX;  // throws Cancelled when asked to open this many entries

  std::unique_ptr<EntryOutput> open(size_t, const ArchiveEntry& e) override {
    if (opened.size() == cancelAt) throw ArchiveError(Kind::Cancelled, "stopped");
    opened.push_back(e.name);
    return std::make_unique<Output>(*this, e);
  }

 private:
  struct Output final : EntryOutput {
    Output(MemorySink& s, const ArchiveEntry& e) : sink(s), entry(e) {}
    void write(const uint8_t* data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
    void commit() override {
      if (entry.isFolder)
        sink.folders.insert(entry.name);
      else
        sink.files[entry.name] = bytes;
    }
    MemorySink& sink;
    ArchiveEntry entry;
    Bytes bytes;
  };
};

PasswordSupplier passwords(std::vector<std::u16string> list) {
  auto next = std::make_shared<size_t>(0);
  return [list, next]() -> std::optional<std::u16string> {
    if (*next >= list.size()) return std::nullopt;
    return list[(*next)++];
  };
}

Kind errorKind(const std::function<void()>& f) {
  try {
    f();
  } catch (const ArchiveError& e) {
    return e.kind();
  }
  ADD_FAILURE() << "no ArchiveError";
  return Kind::Io;
}

// The input tree packed by tests/fixtures/make-7z-fixtures.sh.
const std::string kUnicodeName = "\u00fcn\u00efcode \u540d\u524d.txt";
std::vector<std::string> treeFiles() {
  std::vector<std::string> files = {"code.bin",  "empty.txt", "random.bin", "readonly.txt", "text.txt",
                                    "sub/nested/deep.txt", kUnicodeName};
  for (int i = 0; i < 20; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "sub/many/f%03d.txt", i);
    files.push_back(name);
  }
  return files;
}
const std::set<std::string> kTreeFolders = {"emptydir", "sub", "sub/many", "sub/nested"};
constexpr uint32_t kReadOnly = 0x01, kDirectory = 0x10;
constexpr uint64_t kTextModified = 127225727980000000;   // 2004-02-29 23:59:58 UTC
constexpr uint64_t kOtherModified = 132682340960000000;  // 2021-06-15 12:34:56 UTC

struct FixtureCase {
  const char* archive;
  std::u16string password;
  bool headerEncrypted;
};
const FixtureCase kFixtures[] = {
    {"copy.7z", u"", false},
    {"copy-plain-header.7z", u"", false},
    {"lzma.7z", u"", false},
    {"lzma2.7z", u"", false},
    {"lzma2-nonsolid.7z", u"", false},
    {"bcj.7z", u"", false},
    {"bcj2.7z", u"", false},
    {"aes.7z", u"secret", false},
    {"aes-header.7z", u"secret", true},
    {"aes-copy-header.7z", u"secret", true},
    {"aes-bcj2-header.7z", u"secret", true},
    {"aes-unicode.7z", u"p\u00e4ssw\u00f6rd", true},
};

TEST(SevenZipFixtures, ListsAndExtractsEveryMethodByteForByte) {
  for (const auto& c : kFixtures) {
    SCOPED_TRACE(c.archive);
    const Bytes data = readFile(fixture(c.archive));
    MemoryInput input(data);
    SevenZipArchive archive(input, passwords({c.password}));

    std::map<std::string, ArchiveEntry> byName;
    for (const auto& e : archive.entries()) byName[e.name] = e;
    EXPECT_EQ(byName.size(), treeFiles().size() + kTreeFolders.size());
    for (const auto& folder : kTreeFolders) {
      ASSERT_TRUE(byName.count(folder)) << folder;
      EXPECT_TRUE(byName[folder].isFolder);
      EXPECT_TRUE(byName[folder].attributes.value_or(0) & kDirectory);
    }
    for (const auto& name : treeFiles()) {
      ASSERT_TRUE(byName.count(name)) << name;
      const auto& e = byName[name];
      EXPECT_FALSE(e.isFolder);
      EXPECT_EQ(e.size, readFile(fixture("tree/" + name)).size()) << name;
      EXPECT_EQ(e.modified, name == "text.txt" ? kTextModified : kOtherModified) << name;
      EXPECT_EQ((e.attributes.value_or(0) & kReadOnly) != 0, name == "readonly.txt") << name;
      EXPECT_EQ(e.crc.has_value(), e.size > 0) << name;
      EXPECT_EQ(e.encrypted, !c.password.empty() && e.size > 0) << name;
    }

    MemorySink sink;
    archive.extract({}, sink);
    EXPECT_EQ(sink.folders, kTreeFolders);
    EXPECT_EQ(sink.files.size(), treeFiles().size());
    for (const auto& name : treeFiles()) EXPECT_EQ(sink.files[name], readFile(fixture("tree/" + name))) << name;
  }
}

TEST(SevenZipFixtures, ExtractsAChosenSubsetOfASolidFolder) {
  const Bytes data = readFile(fixture("lzma2.7z"));
  MemoryInput input(data);
  SevenZipArchive archive(input);
  const std::set<std::string> wanted = {"sub/many/f007.txt", "sub/many/f019.txt", "emptydir", "empty.txt"};
  std::vector<bool> chosen;
  for (const auto& e : archive.entries()) chosen.push_back(wanted.count(e.name) > 0);
  MemorySink sink;
  archive.extract(chosen, sink);
  EXPECT_EQ(std::set<std::string>(sink.opened.begin(), sink.opened.end()), wanted);
  EXPECT_EQ(sink.files["sub/many/f019.txt"], readFile(fixture("tree/sub/many/f019.txt")));
  EXPECT_EQ(sink.files["sub/many/f007.txt"], readFile(fixture("tree/sub/many/f007.txt")));
  EXPECT_TRUE(sink.files["empty.txt"].empty());
  EXPECT_EQ(sink.folders, std::set<std::string>{"emptydir"});
}

TEST(SevenZipPasswords, WrongMissingAndRetriedPasswords) {
  const Bytes headerEncrypted = readFile(fixture("aes-header.7z"));
  const Bytes dataEncrypted = readFile(fixture("aes.7z"));
  MemoryInput hin(headerEncrypted), din(dataEncrypted);

  EXPECT_EQ(errorKind([&] { SevenZipArchive a(hin); }), Kind::WrongPassword);
  EXPECT_EQ(errorKind([&] { SevenZipArchive a(hin, passwords({u"wrong"})); }), Kind::WrongPassword);
  // Each further password is tried until one opens the header.
  SevenZipArchive retried(hin, passwords({u"wrong", u"Secret", u"secret"}));
  MemorySink sink;
  retried.extract({}, sink);
  EXPECT_EQ(sink.files["text.txt"], readFile(fixture("tree/text.txt")));

  // Names are readable without a password; the data is not.
  SevenZipArchive listed(din);
  EXPECT_EQ(listed.entries().size(), treeFiles().size() + kTreeFolders.size());
  MemorySink none, wrong;
  EXPECT_EQ(errorKind([&] { listed.extract({}, none); }), Kind::WrongPassword);
  SevenZipArchive wrongData(din, passwords({u"wrong"}));
  EXPECT_EQ(errorKind([&] { wrongData.extract({}, wrong); }), Kind::WrongPassword);
  for (const auto& [name, bytes] : wrong.files) EXPECT_TRUE(bytes.empty()) << name << " committed with a wrong password";
}

// --- Archives written by the copy writer -------------------------------------------------------------

WriterEntry file(std::string name, std::string_view text) {
  WriterEntry e;
  e.name = std::move(name);
  e.data = bytesOf(text);
  return e;
}

WriterEntry folder(std::string name) {
  WriterEntry e;
  e.name = std::move(name);
  e.kind = WriterEntry::Kind::Folder;
  return e;
}

TEST(SevenZipWriter, RoundTripsEveryKindOfEntryInEveryLayout) {
  std::vector<WriterEntry> entries = {file("a.txt", "alpha"), folder("dir"), file("dir/b.txt", "bravo bravo"),
                                      file("empty", ""), file("dir/c.bin", std::string(70000, 'c'))};
  entries[0].attributes = 0x21;  // read-only, archive
  entries[0].modified = kTextModified;
  entries[1].attributes = kDirectory;
  WriterEntry anti;
  anti.name = "deleted.txt";
  anti.kind = WriterEntry::Kind::Anti;
  entries.push_back(anti);

  for (bool solid : {true, false}) {
    for (bool packHeader : {false, true}) {
      SCOPED_TRACE(testing::Message() << "solid " << solid << " packed header " << packHeader);
      const Bytes data = writeCopyArchive(entries, {solid, packHeader});
      MemoryInput input(data);
      SevenZipArchive archive(input);
      const auto& list = archive.entries();
      ASSERT_EQ(list.size(), 5u);  // the anti item is not listed
      EXPECT_EQ(list[0].name, "a.txt");
      EXPECT_EQ(list[0].attributes, 0x21u);
      EXPECT_EQ(list[0].modified, kTextModified);
      EXPECT_EQ(list[0].crc, crc32(bytesOf("alpha")));
      EXPECT_TRUE(list[1].isFolder);
      EXPECT_FALSE(list[2].attributes.has_value());
      EXPECT_FALSE(list[3].isFolder);
      EXPECT_EQ(list[3].size, 0u);
      EXPECT_EQ(list[4].size, 70000u);
      MemorySink sink;
      archive.extract({}, sink);
      EXPECT_EQ(sink.files["a.txt"], bytesOf("alpha"));
      EXPECT_EQ(sink.files["dir/b.txt"], bytesOf("bravo bravo"));
      EXPECT_EQ(sink.files["dir/c.bin"], Bytes(70000, 'c'));
      EXPECT_TRUE(sink.files.count("empty"));
      EXPECT_EQ(sink.folders, std::set<std::string>{"dir"});
    }
  }
}

TEST(SevenZipWriter, AnArchiveWithoutEntries) {
  for (const Bytes& data : {writeCopyArchive({}), writeCopyArchive({}, {true, true})}) {
    MemoryInput input(data);
    SevenZipArchive archive(input);
    EXPECT_TRUE(archive.entries().empty());
    MemorySink sink;
    archive.extract({}, sink);
    EXPECT_TRUE(sink.opened.empty());
  }
}

TEST(SevenZipExtract, StopsWhenTheSinkCancelsAndKeepsWhatWasCommitted) {
  const Bytes data = writeCopyArchive({file("1", "one"), file("2", "two"), file("3", "three")});
  MemoryInput input(data);
  SevenZipArchive archive(input);
  MemorySink sink;
  sink.cancelAt = 1;
  EXPECT_EQ(errorKind([&] { archive.extract({}, sink); }), Kind::Cancelled);
  EXPECT_EQ(sink.files.size(), 1u);
  EXPECT_EQ(sink.files["1"], bytesOf("one"));
}

TEST(SevenZipExtract, ACrcMismatchFailsThatEntryOnly) {
  Bytes data = writeCopyArchive({file("1", "first"), file("2", "second")});
  data[32 + 5] ^= 0x20;  // the first byte of "second" in the packed stream
  MemoryInput input(data);
  SevenZipArchive archive(input);
  MemorySink sink;
  EXPECT_EQ(errorKind([&] { archive.extract({}, sink); }), Kind::Corrupt);
  EXPECT_EQ(sink.files.size(), 1u);
  EXPECT_EQ(sink.files["1"], bytesOf("first"));
}

// --- Sizes over 4 GiB ----------------------------------------------------------------------------------

// An archive held as written pieces; the gaps of zero bytes take no memory.
class SparseArchive final : public ArchiveOutput, public ArchiveInput {
 public:
  void write(std::span<const uint8_t> b) override {
    pieces_[size_] = Bytes(b.begin(), b.end());
    size_ += b.size();
  }
  void writeZeros(uint64_t count) override { size_ += count; }
  uint64_t size() const override { return size_; }
  size_t readAt(uint64_t offset, uint8_t* dst, size_t size) override {
    size = static_cast<size_t>(std::min<uint64_t>(size, size_ - std::min(offset, size_)));
    std::fill(dst, dst + size, 0);
    for (const auto& [at, bytes] : pieces_) {
      const uint64_t from = std::max(at, offset), to = std::min(at + bytes.size(), offset + size);
      if (from < to) std::copy_n(bytes.data() + (from - at), to - from, dst + (from - offset));
    }
    return size;
  }

 private:
  std::map<uint64_t, Bytes> pieces_;
  uint64_t size_ = 0;
};

// A 5 GiB file of zeros (not held anywhere) in one folder and a small file in the next: listing must
// keep the full size, and the small file's packed stream lies beyond 4 GiB.
TEST(SevenZipLargeArchive, SizesAndOffsetsBeyondFourGiB) {
  constexpr uint64_t kBig = (uint64_t(5) << 30) + 3;
  WriterEntry big;
  big.name = "big.bin";
  big.zeroBytes = kBig;
  SparseArchive sparse;
  writeCopyArchive({big, file("after.txt", "after the big one")}, {false, false}, sparse);
  ASSERT_GT(sparse.size(), kBig);

  SevenZipArchive archive(sparse);
  ASSERT_EQ(archive.entries().size(), 2u);
  EXPECT_EQ(archive.entries()[0].size, kBig);
  MemorySink sink;
  archive.extract({false, true}, sink);
  EXPECT_EQ(sink.files["after.txt"], bytesOf("after the big one"));
}

// --- Damaged and hostile archives ---------------------------------------------------------------------

// Opening and extracting either works or ends in an ArchiveError; never anything else.
void openAndExtract(const Bytes& data) {
  MemoryInput input(data);
  try {
    SevenZipArchive archive(input, passwords({u"secret"}));
    MemorySink sink;
    archive.extract({}, sink);
  } catch (const ArchiveError&) {
  }
}

TEST(SevenZipHostile, TruncatedCopiesFailCleanly) {
  for (const char* name : {"copy-plain-header.7z", "lzma2.7z", "aes-bcj2-header.7z"}) {
    const Bytes data = readFile(fixture(name));
    for (size_t cut : {size_t(0), size_t(5), size_t(31), size_t(32), size_t(33), data.size() / 2,
                       data.size() - 100, data.size() - 1}) {
      SCOPED_TRACE(testing::Message() << name << " cut to " << cut);
      MemoryInput input(std::span<const uint8_t>(data.data(), cut));
      EXPECT_EQ(errorKind([&] { SevenZipArchive a(input, passwords({u"secret"})); }), Kind::Corrupt);
    }
  }
}

TEST(SevenZipHostile, EveryFlippedHeaderByteFailsCleanly) {
  std::vector<WriterEntry> entries = {file("a.txt", "alpha"), folder("d"), file("d/b", "bravo"), file("e", "")};
  entries[0].modified = 1;
  entries[0].attributes = 0x20;
  for (bool packHeader : {false, true}) {
    const Bytes clean = writeCopyArchive(entries, {true, packHeader});
    for (size_t at = 12; at < clean.size(); ++at) {
      for (uint8_t flip : {0x01, 0x80, 0xFF}) {
        Bytes data = clean;
        data[at] ^= flip;
        openAndExtract(data);  // with the CRC that gives the damage away
        refreshHeaderCrcs(data);
        openAndExtract(data);  // and with CRCs that hide it
      }
    }
  }
}

TEST(SevenZipHostile, FlippedBytesInRealArchivesFailCleanly) {
  // Fewer places in the encrypted archive: each attempt derives the key anew.
  const std::pair<const char*, size_t> cases[] = {{"lzma.7z", 23}, {"bcj2.7z", 23}, {"aes-header.7z", 5}};
  for (const auto& [name, places] : cases) {
    const Bytes clean = readFile(fixture(name));
    for (size_t at = 32; at < clean.size(); at += clean.size() / places) {
      SCOPED_TRACE(testing::Message() << name << " at " << at);
      Bytes data = clean;
      data[at] ^= 0x55;
      refreshHeaderCrcs(data);
      openAndExtract(data);
    }
  }
}

// Header bytes written by hand: the numbers are all below 0x80 so each is one byte unless noted.
using namespace sevenzip;

Bytes withHeader(const Bytes& packed, const Bytes& header) {
  Bytes a(32);
  std::copy(std::begin(kSignature), std::end(kSignature), a.begin());
  a[7] = 4;
  a.insert(a.end(), packed.begin(), packed.end());
  a.insert(a.end(), header.begin(), header.end());
  for (int i = 0; i < 8; ++i) a[12 + i] = static_cast<uint8_t>(packed.size() >> (8 * i));
  for (int i = 0; i < 8; ++i) a[20 + i] = static_cast<uint8_t>(header.size() >> (8 * i));
  refreshHeaderCrcs(a);
  return a;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
const Bytes kHuge = {0xFF, 0, 0, 0, 0, 0, 0, 0, 0x40};  // 2^62
const Bytes kOneName = {kFilesInfo, 1, kName, 5, 0, 'a', 0, 0, 0, kEnd};

// A folder (by default one copy coder over 5 packed bytes); `extra` goes after UnpackInfo.
Bytes streams(const Bytes& folder, const Bytes& unpackSizes, const Bytes& extra = {}, const Bytes& packSizes = {5}) {
  return cat({{kMainStreamsInfo, kPackInfo, 0, static_cast<uint8_t>(packSizes.size()), kSize}, packSizes,
              {kEnd, kUnpackInfo, kFolder, 1, 0}, folder, {kCodersUnpackSize}, unpackSizes, {kEnd}, extra, {kEnd}});
}
const Bytes kCopyCoder = {1, 0x01, 0x00};
const Bytes kCopyFolder = streams(kCopyCoder, {5});
// The streams of a packed header: as above without the id of the main streams.
Bytes packedHeaderStreams(const Bytes& unpackSize) {
  const Bytes s = streams(kCopyCoder, unpackSize);
  return Bytes(s.begin() + 1, s.end());
}

TEST(SevenZipHostile, HandMadeHeadersAreRefused) {
  struct Case {
    const char* what;
    Bytes header;
    std::optional<Kind> onOpen;     // how opening fails
    std::optional<Kind> onExtract;  // how extracting fails, when opening works
  };
  const auto header = [](std::initializer_list<Bytes> parts) { return cat({{kHeader}, cat(parts), {kEnd}}); };
  const Case cases[] = {
      {"a plain header that works", header({kCopyFolder, kOneName}), {}, {}},
      {"an empty name", header({kCopyFolder, {kFilesInfo, 1, kName, 3, 0, 0, 0, kEnd}}), {}, {}},
      {"no header id", {kEnd}, Kind::Corrupt, {}},
      {"huge file count", header({{kFilesInfo}, kHuge, {kEnd}}), Kind::Unsupported, {}},
      {"more files than header bytes", header({{kFilesInfo, 100, kEnd}}), Kind::Corrupt, {}},
      {"huge folder count", header({{kMainStreamsInfo, kUnpackInfo, kFolder}, kHuge}), Kind::Unsupported, {}},
      {"huge packed stream count", header({{kMainStreamsInfo, kPackInfo, 0}, kHuge}), Kind::Unsupported, {}},
      {"packed stream running into the header", header({streams(kCopyCoder, {5}, {}, {6}), kOneName}),
       Kind::Corrupt, {}},
      {"packed position overflowing", header({{kMainStreamsInfo, kPackInfo}, kHuge, {1, kSize, 5, kEnd, kEnd}, kOneName}),
       Kind::Corrupt, {}},
      {"huge coder count", header({streams({100, 0x01, 0x00}, {5}), kOneName}), Kind::Unsupported, {}},
      {"huge property size", header({streams(cat({{1, 0x21, 0x00}, kHuge}), {5}), kOneName}), Kind::Corrupt, {}},
      {"coder with two outputs", header({streams({1, 0x11, 0x00, 1, 2}, {5}), kOneName}), Kind::Unsupported, {}},
      // Coders 1 and 2 read each other's output, apart from the main coder 0.
      {"coders in a cycle",
       header({streams({3, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 1, 2, 2, 1}, {5, 5, 5}), kOneName}), Kind::Corrupt, {}},
      {"huge substream count", header({streams(kCopyCoder, {5}, cat({{kSubStreamsInfo, kNumUnpackStream}, kHuge, {kEnd}})), kOneName}),
       Kind::Unsupported, {}},
      {"substreams larger than their folder",
       header({streams(kCopyCoder, {5}, {kSubStreamsInfo, kNumUnpackStream, 2, kSize, 9, kEnd}), kOneName}),
       Kind::Corrupt, {}},
      {"more files with data than streams",
       header({kCopyFolder, {kFilesInfo, 2, kName, 9, 0, 'a', 0, 0, 0, 'b', 0, 0, 0, kEnd}}), Kind::Corrupt, {}},
      {"fewer names than files",
       header({kCopyFolder, {kFilesInfo, 2, kEmptyStream, 1, 0x40, kName, 5, 0, 'a', 0, 0, 0, kEnd}}), Kind::Corrupt, {}},
      {"a name without terminator", header({kCopyFolder, {kFilesInfo, 1, kName, 3, 0, 'a', 0, kEnd}}), Kind::Corrupt, {}},
      {"property longer than the header", header({kCopyFolder, {kFilesInfo, 1, kName, 90, 0}}), Kind::Corrupt, {}},
      {"packed header of 2^62 bytes", cat({{kEncodedHeader}, packedHeaderStreams(kHuge)}), Kind::Unsupported, {}},
      {"unknown method", header({streams({1, 0x03, 0x03, 0x04, 0x01}, {5}), kOneName}), {}, Kind::Unsupported},
      {"copy folder larger than its packed stream", header({streams(kCopyCoder, {50}), kOneName}), {}, Kind::Corrupt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes data = withHeader(bytesOf("12345"), c.header);
    MemoryInput input(data);
    if (c.onOpen) {
      EXPECT_EQ(errorKind([&] { SevenZipArchive a(input); }), *c.onOpen);
      continue;
    }
    SevenZipArchive archive(input);
    MemorySink sink;
    if (c.onExtract) {
      EXPECT_EQ(errorKind([&] { archive.extract({}, sink); }), *c.onExtract);
      EXPECT_TRUE(sink.files.empty());
    } else {
      archive.extract({}, sink);
      ASSERT_EQ(sink.files.size(), 1u);
      EXPECT_EQ(sink.files.begin()->second, bytesOf("12345"));
    }
  }
}

// --- Entry paths ---------------------------------------------------------------------------------------

TEST(EntryPath, KeepsEntriesInsideTheTargetFolder) {
  struct Case {
    const char* name;
    const char* safe;  // null: refused
  };
  const Case cases[] = {
      {"a.txt", "a.txt"},
      {"dir/sub/a.txt", "dir\\sub\\a.txt"},
      {"dir\\sub\\a.txt", "dir\\sub\\a.txt"},
      {"dir//./a.txt", "dir\\a.txt"},
      {"dir/../a.txt", "a.txt"},
      {"dir/", "dir"},
      {"console/con.txt", nullptr},
      {"con.d/readme", nullptr},
      {"conf/readme", "conf\\readme"},
      {"..\\evil.txt", nullptr},
      {"../evil.txt", nullptr},
      {"dir/../../evil.txt", nullptr},
      {"..", nullptr},
      {"/etc/passwd", nullptr},
      {"\\Windows\\evil.dll", nullptr},
      {"\\\\server\\share\\evil", nullptr},
      {"\\\\?\\C:\\evil", nullptr},
      {"C:\\x", nullptr},
      {"C:x", nullptr},
      {"file.txt:stream", nullptr},
      {"dir/.../evil", nullptr},
      {"dir/. ./evil", nullptr},
      {"NUL", nullptr},
      {"dir/com1.txt", nullptr},
      {"LPT9", nullptr},
      {"aux .log", nullptr},
      {"wild*.txt", nullptr},
      {"tab\there", nullptr},
      {"", nullptr},
      {".", nullptr},
  };
  for (const auto& c : cases) {
    const auto out = safeRelativePath(c.name);
    if (c.safe) {
      EXPECT_EQ(out, std::optional<std::string>(c.safe)) << c.name;
    } else {
      EXPECT_FALSE(out.has_value()) << c.name << " -> " << out.value_or("");
    }
  }
}

TEST(EntryPath, CraftedClimbingNamesAreListedAsStoredAndRefusedAsPaths) {
  const Bytes data = writeCopyArchive({file("..\\evil.txt", "x"), file("C:\\x", "y"), file("ok/fine.txt", "z")});
  MemoryInput input(data);
  SevenZipArchive archive(input);
  std::vector<std::optional<std::string>> paths;
  for (const auto& e : archive.entries()) paths.push_back(safeRelativePath(e.name));
  ASSERT_EQ(paths.size(), 3u);
  EXPECT_EQ(archive.entries()[0].name, "..\\evil.txt");
  EXPECT_FALSE(paths[0]);
  EXPECT_FALSE(paths[1]);
  EXPECT_EQ(paths[2], std::optional<std::string>("ok\\fine.txt"));
}

}  // namespace
}  // namespace orv::archive
