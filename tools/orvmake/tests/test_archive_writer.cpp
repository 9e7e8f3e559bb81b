// The archive writer: what it writes our reader and 7-Zip take back whole (names, bytes, folders, times,
// with and without a password), the same input gives the same bytes, and a failure leaves nothing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "core/archive/sevenzip.h"
#include "orvmake/archive_writer.h"
#include "orvmake/media.h"
#include "orvmake/tests/test_folder.h"

namespace orv::make {
namespace {

namespace fs = std::filesystem;
using archive::ArchiveEntry;
using archive::ArchiveError;
using archive::SevenZipArchive;

// Text-like bytes that compress, with a seed so files differ.
std::string textBytes(size_t size, unsigned seed) {
  std::string s;
  s.reserve(size);
  uint32_t x = seed * 2654435761u + 1;
  while (s.size() < size) {
    x = x * 1103515245u + 12345u;
    s += "line " + std::to_string(x >> 20) + " of the file\n";
  }
  s.resize(size);
  return s;
}

// Bytes LZMA2 cannot shrink, so its chunks are stored.
std::string noiseBytes(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint64_t x = seed + 0x9E3779B97F4A7C15ull;
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>(x);
  }
  return s;
}

// Looks like code to the x86 filter: relative calls and jumps among other bytes.
std::string programBytes(size_t size) {
  std::string s = "MZ";
  for (uint32_t i = 0; s.size() < size; ++i) {
    s += static_cast<char>(0xE8);
    for (int k = 0; k < 4; ++k) s += static_cast<char>(((i * 64) >> (8 * k)) & 0xFF);
    s += "\x55\x8B\xEC\x83\xEC\x10";
  }
  s.resize(size);
  return s;
}

struct Unpacked {
  std::vector<ArchiveEntry> entries;
  std::map<std::string, std::string> bytes;  // by name
};

class CollectingSink final : public archive::ExtractSink {
 public:
  explicit CollectingSink(std::map<std::string, std::string>& bytes) : bytes_(bytes) {}
  std::unique_ptr<archive::EntryOutput> open(size_t, const ArchiveEntry& entry) override {
    return std::make_unique<Output>(bytes_[entry.name]);
  }

 private:
  struct Output final : archive::EntryOutput {
    explicit Output(std::string& to) : to(to) {}
    void write(const uint8_t* data, size_t size) override { to.append(reinterpret_cast<const char*>(data), size); }
    void commit() override {}
    std::string& to;
  };
  std::map<std::string, std::string>& bytes_;
};

// Through our reader, with at most one password offered.
Unpacked unpack(const fs::path& path, std::optional<std::u16string> password) {
  const std::string data = readAll(path);
  archive::MemoryInput input({reinterpret_cast<const uint8_t*>(data.data()), data.size()});
  bool offered = false;
  SevenZipArchive reader(input, [&]() -> std::optional<std::u16string> {
    if (offered || !password) return std::nullopt;
    offered = true;
    return password;
  });
  Unpacked out;
  out.entries = reader.entries();
  CollectingSink sink(out.bytes);
  reader.extract({}, sink);
  return out;
}

int sevenZipTest(const fs::path& archivePath, const std::string& password) {
  const std::string command =
      "7zz t -bd -bso0 -bse0 -bsp0 -p'" + password + "' '" + archivePath.string() + "' >/dev/null 2>&1";
  return std::system(command.c_str());
}

// The distinct "Method = " lines of 7zz's technical listing.
std::string sevenZipMethods(const fs::path& archivePath, const std::string& password) {
  const std::string command = "7zz l -slt -p'" + password + "' '" + archivePath.string() + "' 2>/dev/null | sed -n 's/^Method = //p' | sort -u";
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (const size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

class ArchiveWriter : public TestFolder {
 public:
  ArchiveWriter() : TestFolder("pack") {}

  // An input file of the archive (below "in"), remembered with its bytes.
  void write(const std::string& name, const std::string& bytes) {
    const fs::path path = root_ / "in" / fs::u8path(name);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    written_[name] = bytes;
  }
  void folder(const std::string& name) { fs::create_directories(root_ / "in" / fs::u8path(name)); }
  std::vector<PackEntry> tree() { return entriesOfFolder(root_ / "in", ""); }

  std::map<std::string, std::string> written_;
};

TEST_F(ArchiveWriter, OurReaderAndSevenZipTakeBackEveryKindOfInput) {
  struct Case {
    const char* what;
    std::function<void(ArchiveWriter&)> make;
  };
  const Case cases[] = {
      {"no entries at all (a setup without support files still gets its archive)", [](ArchiveWriter&) {}},
      {"an empty file", [](ArchiveWriter& t) { t.write("empty.txt", ""); }},
      {"an empty folder beside a file",
       [](ArchiveWriter& t) {
         t.folder("nothing/deeper");
         t.write("a.txt", "a");
       }},
      {"many small files",
       [](ArchiveWriter& t) {
         for (unsigned i = 0; i < 300; ++i) t.write("d" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".txt", textBytes(i * 13 % 700, i));
       }},
      {"a file beyond one LZMA2 chunk",
       [](ArchiveWriter& t) { t.write("big.bin", noiseBytes(size_t(3) << 20, 1) + textBytes(size_t(1) << 20, 2)); }},
      {"programs through the x86 filter beside plain files",
       [](ArchiveWriter& t) {
         t.write("bin/app.EXE", programBytes(300000));
         t.write("bin/lib.dll", programBytes(5000));
         t.write("readme.txt", textBytes(2000, 3));
       }},
      {"names beyond ASCII",
       [](ArchiveWriter& t) {
         t.write("donn\u00e9es/na\u00efve \u540d\u524d \U0001F600.txt", "bytes");
         t.folder("\u0416\u0443\u043a");
       }},
  };
  for (const Case& c : cases) {
    for (const std::string password : {"", "p\u00e4ssw\u00f6rd"}) {
      SCOPED_TRACE(std::string(c.what) + (password.empty() ? "" : ", with a password"));
      fs::remove_all(root_);
      written_.clear();
      fs::create_directories(root_ / "in");
      c.make(*this);
      PackOptions options;
      options.password = password;
      std::vector<PackProgress> reports;
      options.progress = [&](const PackProgress& p) { reports.push_back(p); };
      const fs::path out = root_ / "out.7z";
      writeArchive(out.string(), tree(), options);

      const std::u16string password16 = password.empty() ? u"" : u"p\u00e4ssw\u00f6rd";
      const Unpacked got = unpack(out, password.empty() ? std::nullopt : std::optional(password16));
      std::map<std::string, std::string> files;
      for (const ArchiveEntry& e : got.entries) {
        const fs::path source = root_ / "in" / fs::u8path(e.name);
        EXPECT_EQ(e.isFolder, fs::is_directory(source)) << e.name;
        EXPECT_EQ(e.encrypted, !password.empty() && e.size > 0) << e.name;
        ASSERT_TRUE(e.attributes && e.modified) << e.name;
        EXPECT_EQ(*e.attributes & 0x10, e.isFolder ? 0x10u : 0u) << e.name;
        if (!e.isFolder) files[e.name] = got.bytes.at(e.name);
      }
      EXPECT_EQ(files, written_);
      EXPECT_EQ(got.entries.size(), tree().size());
      EXPECT_EQ(sevenZipTest(out, password), 0) << "7zz t refused " << out;

      ASSERT_FALSE(reports.empty());
      EXPECT_EQ(reports.back().filesDone, written_.size());
      EXPECT_EQ(reports.back().filesDone, reports.back().filesTotal);
      EXPECT_EQ(reports.back().bytesRead, reports.back().bytesTotal);
      EXPECT_EQ(reports.back().bytesWritten, fs::file_size(out));
      if (!password.empty()) {
        EXPECT_THROW(unpack(out, u"wrong"), ArchiveError);
        EXPECT_THROW(unpack(out, std::nullopt), ArchiveError);
        EXPECT_NE(sevenZipTest(out, "wrong"), 0);
      }
    }
  }
}

TEST_F(ArchiveWriter, TheSameInputGivesTheSameBytes) {
  for (unsigned i = 0; i < 40; ++i) write("f" + std::to_string(i) + ".txt", textBytes(3000 + i, i));
  write("bin/setup.exe", programBytes(20000));
  folder("empty");
  write("generated-too.txt", "");
  std::vector<PackEntry> entries = tree();
  entries.push_back({"page.dfm", {}, false, "a page made in memory"});
  for (const std::string password : {"", "secret"}) {
    SCOPED_TRACE(password);
    PackOptions options;
    options.password = password;
    std::vector<PackEntry> reversed(entries.rbegin(), entries.rend());
    writeArchive((root_ / "one.7z").string(), entries, options);
    writeArchive((root_ / "two.7z").string(), reversed, options);
    EXPECT_EQ(readAll(root_ / "one.7z"), readAll(root_ / "two.7z"));
    fs::remove(root_ / "one.7z");
    fs::remove(root_ / "two.7z");
  }

  // A fixed time stands for every file's own, so touching the files changes nothing.
  PackOptions fixed;
  fixed.fixedTime = 1700000000;
  writeArchive((root_ / "one.7z").string(), entries, fixed);
  for (const PackEntry& e : entries)
    if (!e.source.empty()) fs::last_write_time(e.source, fs::file_time_type::clock::now() - std::chrono::hours(50));
  writeArchive((root_ / "two.7z").string(), entries, fixed);
  EXPECT_EQ(readAll(root_ / "one.7z"), readAll(root_ / "two.7z"));
  for (const ArchiveEntry& e : unpack(root_ / "one.7z", std::nullopt).entries)
    EXPECT_EQ(e.modified, 1700000000ull * 10000000 + 116444736000000000ull) << e.name;

  // Another content with the same password gets another salt and vector, not just other bytes.
  PackOptions secret;
  secret.password = "secret";
  writeArchive((root_ / "a.7z").string(), entries, secret);
  write("f0.txt", "changed");
  writeArchive((root_ / "b.7z").string(), tree(), secret);
  const std::string a = readAll(root_ / "a.7z"), b = readAll(root_ / "b.7z");
  EXPECT_NE(a.substr(a.size() - 60), b.substr(b.size() - 60)) << "the header's AES properties";
}

TEST_F(ArchiveWriter, AFailureLeavesNothingBehind) {
  write("a.txt", textBytes(5000, 1));
  write("b.txt", textBytes(5000, 2));
  write("c.txt", textBytes(5000, 3));
  const fs::path out = root_ / "out.7z";
  struct Case {
    const char* what;
    std::function<void(const PackProgress&)> progress;
    const char* message;
  };
  const Case cases[] = {
      {"a file gone before it is read",
       [&](const PackProgress& p) {
         if (p.filesDone == 1) fs::remove(root_ / "in/c.txt");
       },
       "c.txt: cannot read the file"},
      {"a file that grows while it is read",
       [&](const PackProgress& p) {
         if (p.filesDone == 1 && p.bytesRead == 5000) std::ofstream(root_ / "in/b.txt", std::ios::app) << "more";
       },
       "b.txt: the file changed while it was packed"},
      {"a stop asked by the progress",
       [](const PackProgress& p) {
         if (p.filesDone == 2) throw std::runtime_error("stopped");
       },
       "stopped"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write("b.txt", textBytes(5000, 2));
    write("c.txt", textBytes(5000, 3));
    PackOptions options;
    options.progress = c.progress;
    try {
      writeArchive(out.string(), tree(), options);
      ADD_FAILURE() << "written";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(out));
  }

  // An archive already at the path is not replaced.
  std::ofstream(out) << "keep";
  EXPECT_THROW(writeArchive(out.string(), tree()), std::runtime_error);
  EXPECT_EQ(readAll(out), "keep");
}

TEST_F(ArchiveWriter, RefusesNamesThatCannotBeUnpacked) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"../x.txt"}, "a path with an empty, . or .. part"},
      {{"a//b.txt"}, "a path with an empty, . or .. part"},
      {{"/abs.txt"}, "not a relative path"},
      {{"a\\b.txt"}, "a character Windows file names cannot hold"},
      {{"what?.txt"}, "a character Windows file names cannot hold"},
      {{"bad\xff.txt"}, "not UTF-8 text"},
      {{"Same.txt", "same.TXT"}, "two entries of the same name"},
  };
  for (const auto& [names, message] : cases) {
    SCOPED_TRACE(names.front());
    std::vector<PackEntry> entries;
    for (const std::string& name : names) entries.push_back({name, {}, false, "x"});
    try {
      writeArchive((root_ / "out.7z").string(), entries);
      ADD_FAILURE() << "written";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(root_ / "out.7z"));
  }
}

TEST_F(ArchiveWriter, AMediaBlockTravelsUnderItsNameWithItsPassword) {
  write("readme.txt", "read me");
  write("bin/tool.exe", programBytes(1000));
  folder("logs");
  MediaBlock block;
  block.name = "DEMO";
  block.folder = (root_ / "in").string();
  block.password = "blockpw";
  writeMediaArchive(block, (root_ / "DEMO.7zip").string());
  std::vector<std::string> names;
  const Unpacked got = unpack(root_ / "DEMO.7zip", u"blockpw");
  for (const ArchiveEntry& e : got.entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"DEMO", "DEMO/bin", "DEMO/bin/tool.exe", "DEMO/logs", "DEMO/readme.txt"}));
  EXPECT_EQ(got.bytes.at("DEMO/readme.txt"), "read me");
  EXPECT_THROW(unpack(root_ / "DEMO.7zip", std::nullopt), ArchiveError);
  EXPECT_EQ(sevenZipTest(root_ / "DEMO.7zip", "blockpw"), 0);
  // Programs through the x86 filter, the rest plain, both encrypted; the coders in 7-Zip's order (as 7zz
  // lists its own archives), which some readers require.
  EXPECT_EQ(sevenZipMethods(root_ / "DEMO.7zip", "blockpw"), "\nBCJ LZMA2:12 7zAES:19\nLZMA2:12 7zAES:19\nLZMA2:12 BCJ 7zAES\n");

  // A failure keeps its contract: nothing at the path.
  block.folder = (root_ / "missing").string();
  EXPECT_THROW(writeMediaArchive(block, (root_ / "LOST.7zip").string()), std::runtime_error);
  EXPECT_FALSE(fs::exists(root_ / "LOST.7zip"));
}

}  // namespace
}  // namespace orv::make
