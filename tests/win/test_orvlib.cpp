// The archive library (orv.lib) as the engine uses it: loaded by full path, driven through its exports,
// extracting 7-Zip-made archives into real folders under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/archive/sevenzip_writer.h"
#include "orv/orv_api.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/strings.h"
#include "platform/system.h"
#include "support/windows_test.h"

namespace orv {
namespace {

using test::hostPath;

std::string fixture(const std::string& name) { return hostPath(ORV_FIXTURES) + "\\7z\\" + name; }

std::string libraryPath() {
  if (const char* bin = std::getenv("ORV_BIN"); bin && *bin) return hostPath(bin) + "\\orv.lib";
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::string path = narrow(exe);
  return path.substr(0, path.rfind('\\') + 1) + "orv.lib";
}

class Library {
 public:
  Library() {
    module_.reset(LoadLibraryW(widen(libraryPath()).c_str()));
    if (!module_) return;
    extract = function<decltype(&ExtractArchive)>("ExtractArchive");
    openList = function<decltype(&OpenListArchive)>("OpenListArchive");
    closeList = function<decltype(&CloseListArchive)>("CloseListArchive");
    lastError = function<decltype(&GetLastArchiveError)>("GetLastArchiveError");
  }
  bool loaded() const { return extract && openList && closeList && lastError; }

  decltype(&ExtractArchive) extract = nullptr;
  decltype(&OpenListArchive) openList = nullptr;
  decltype(&CloseListArchive) closeList = nullptr;
  decltype(&GetLastArchiveError) lastError = nullptr;

 private:
  template <typename Fn>
  Fn function(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_.get(), name)));
  }
  UniqueModule module_;
};

// The callbacks are plain functions, so what they answer travels in these slots for one call.
struct Callbacks {
  std::vector<std::string> passwords;  // offered in turn, then 0
  size_t passwordCalls = 0;
  std::function<bool(const std::string&, uint64_t, uint64_t)> progress;
};
thread_local Callbacks* tCallbacks = nullptr;

int32_t WINAPI passwordCallback(char* buffer) {
  if (!tCallbacks || tCallbacks->passwordCalls >= tCallbacks->passwords.size()) return 0;
  const std::string& p = tCallbacks->passwords[tCallbacks->passwordCalls++];
  std::memcpy(buffer, p.c_str(), p.size() + 1);
  return 1;
}

int32_t WINAPI progressCallback(const char* file, uint32_t doneLow, uint32_t doneHigh, uint32_t totalLow,
                                uint32_t totalHigh) {
  if (!tCallbacks || !tCallbacks->progress) return 1;
  return tCallbacks->progress(file, uint64_t(doneHigh) << 32 | doneLow, uint64_t(totalHigh) << 32 | totalLow);
}

int32_t WINAPI ninthCallback(int32_t, int32_t) { return 1; }
int32_t WINAPI questionCallback(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                int32_t) {
  return 4;
}

struct Request {
  std::string archive;
  std::vector<std::string> names;
  bool flatten = false;
  std::string password;
  Callbacks callbacks;
};

struct Outcome {
  int32_t ok = 0;
  int32_t error = 0;
};

class OrvLibTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib_.loaded()) << "cannot load " << libraryPath();
    static std::atomic<int> counter{0};
    root_ = tempFolder() + "orvlib-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++) + "\\";
    target_ = root_ + "target\\";
    ASSERT_TRUE(createFolders(root_));
  }
  void TearDown() override { deleteTree(root_); }

  Outcome extract(Request r) {
    std::vector<std::string> ansi;
    for (const auto& n : r.names) ansi.push_back(toCodePage(n, CP_ACP));
    std::vector<const char*> pointers;
    for (const auto& n : ansi) pointers.push_back(n.c_str());
    const OrvFileSet set{pointers.empty() ? nullptr : pointers.data(), static_cast<int32_t>(pointers.size())};
    tCallbacks = &r.callbacks;
    Outcome o;
    o.ok = lib_.extract(toCodePage(r.archive, CP_ACP).c_str(), 1, toCodePage(target_, CP_ACP).c_str(), &set,
                        r.flatten ? 1 : 0, toCodePage(r.password, CP_ACP).c_str(), passwordCallback, progressCallback,
                        ninthCallback, questionCallback);
    o.error = lib_.lastError();
    tCallbacks = nullptr;
    return o;
  }

  std::string writeArchive(const std::vector<archive::WriterEntry>& entries, const std::string& name) {
    const auto bytes = archive::writeCopyArchive(entries);
    const std::string path = root_ + name;
    EXPECT_TRUE(writeWholeFile(path, std::string(bytes.begin(), bytes.end())));
    return path;
  }

  Library lib_;
  std::string root_, target_;
};

// --- The fixture tree (tests/fixtures/make-7z-fixtures.sh) --------------------------------------------

const std::string kUnicodeName = "\u00fcn\u00efcode \u540d\u524d.txt";
std::vector<std::string> treeFiles() {
  std::vector<std::string> files = {"code.bin",  "empty.txt", "random.bin", "readonly.txt", "text.txt",
                                    "sub\\nested\\deep.txt", kUnicodeName};
  for (int i = 0; i < 20; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "sub\\many\\f%03d.txt", i);
    files.push_back(name);
  }
  return files;
}
const char* const kTreeFolders[] = {"emptydir", "sub", "sub\\many", "sub\\nested"};
constexpr uint64_t kTextModified = 127225727980000000;   // 2004-02-29 23:59:58 UTC
constexpr uint64_t kOtherModified = 132682340960000000;  // 2021-06-15 12:34:56 UTC

std::string contents(const std::string& path) {
  std::string bytes;
  EXPECT_TRUE(readWholeFile(path, bytes)) << path;
  return bytes;
}

uint64_t modifiedTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &data)) return 0;
  return uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
}

DWORD attributes(const std::string& path) { return GetFileAttributesW(widen(path).c_str()); }

// Every file equal byte for byte, every folder present, and no partial file left behind.
void expectWholeTree(const std::string& target) {
  for (const auto& name : treeFiles()) {
    EXPECT_EQ(contents(target + name), contents(fixture("tree\\" + name))) << name;
    EXPECT_EQ(modifiedTime(target + name), name == "text.txt" ? kTextModified : kOtherModified) << name;
    EXPECT_FALSE(fileExists(target + name + ".orvpart")) << name;
  }
  for (const char* folder : kTreeFolders) EXPECT_TRUE(folderExists(target + folder)) << folder;
  EXPECT_EQ(modifiedTime(target + "emptydir"), kOtherModified);
  EXPECT_TRUE(attributes(target + "readonly.txt") & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(attributes(target + "text.txt") & FILE_ATTRIBUTE_READONLY);
}

TEST_F(OrvLibTest, ExtractsEveryKindOfArchiveByteForByte) {
  struct Case {
    const char* archive;
    const char* password;  // as text
    const char* offered;   // through the callback instead
  };
  const Case cases[] = {
      {"copy.7z", "", nullptr},
      {"copy-plain-header.7z", "", nullptr},
      {"lzma.7z", "", nullptr},
      {"lzma2.7z", "", nullptr},
      {"lzma2-nonsolid.7z", "", nullptr},
      {"bcj.7z", "", nullptr},
      {"bcj2.7z", "", nullptr},
      {"aes.7z", "secret", nullptr},
      {"aes.7z", "", "secret"},
      {"aes-header.7z", "secret", nullptr},
      {"aes-header.7z", "", "secret"},
      {"aes-copy-header.7z", "secret", nullptr},
      {"aes-bcj2-header.7z", "secret", nullptr},
      {"aes-unicode.7z", "p\u00e4ssw\u00f6rd", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.archive << " password " << c.password << (c.offered ? " by callback" : ""));
    Request r{fixture(c.archive)};
    r.password = c.password;
    if (c.offered) r.callbacks.passwords = {c.offered};
    const Outcome o = extract(r);
    ASSERT_EQ(o.ok, 1) << "error " << o.error;
    EXPECT_EQ(o.error, 0);
    expectWholeTree(target_);
    deleteTree(target_);
  }
}

TEST_F(OrvLibTest, ExtractsNamedEntriesOnlyAndFlattensOnRequest) {
  Request r{fixture("lzma2.7z")};
  r.names = {"sub\\many\\f003.txt", "SUB/NESTED/DEEP.TXT", "text.*", "emptydir", "not in the archive"};
  ASSERT_EQ(extract(r).ok, 1);
  EXPECT_EQ(contents(target_ + "sub\\many\\f003.txt"), contents(fixture("tree\\sub\\many\\f003.txt")));
  EXPECT_EQ(contents(target_ + "sub\\nested\\deep.txt"), contents(fixture("tree\\sub\\nested\\deep.txt")));
  EXPECT_EQ(contents(target_ + "text.txt"), contents(fixture("tree\\text.txt")));
  EXPECT_TRUE(folderExists(target_ + "emptydir"));
  EXPECT_FALSE(fileExists(target_ + "sub\\many\\f004.txt"));
  EXPECT_FALSE(fileExists(target_ + "code.bin"));
  deleteTree(target_);

  r.flatten = true;
  ASSERT_EQ(extract(r).ok, 1);
  EXPECT_EQ(contents(target_ + "f003.txt"), contents(fixture("tree\\sub\\many\\f003.txt")));
  EXPECT_EQ(contents(target_ + "deep.txt"), contents(fixture("tree\\sub\\nested\\deep.txt")));
  EXPECT_FALSE(folderExists(target_ + "sub"));
  EXPECT_FALSE(folderExists(target_ + "emptydir"));
}

TEST_F(OrvLibTest, OverwritesExistingAndReadOnlyFiles) {
  ASSERT_TRUE(createFolders(target_));
  ASSERT_TRUE(writeWholeFile(target_ + "readonly.txt", "old and longer than the new content"));
  ASSERT_TRUE(SetFileAttributesW(widen(target_ + "readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(writeWholeFile(target_ + "text.txt", "old"));
  ASSERT_EQ(extract({fixture("lzma2.7z")}).ok, 1);
  expectWholeTree(target_);
}

TEST_F(OrvLibTest, ReportsProgressAndStopsWhenTheCallbackSaysSo) {
  uint64_t total = 0;
  for (const auto& name : treeFiles()) total += contents(fixture("tree\\" + name)).size();

  std::vector<std::string> files;
  uint64_t lastDone = 0;
  Request r{fixture("lzma2.7z")};
  r.callbacks.progress = [&](const std::string& file, uint64_t done, uint64_t all) {
    EXPECT_EQ(all, total);
    EXPECT_GE(done, lastDone);
    lastDone = done;
    if (files.empty() || files.back() != file) files.push_back(file);
    return true;
  };
  ASSERT_EQ(extract(r).ok, 1);
  EXPECT_EQ(lastDone, total);
  EXPECT_NE(std::find(files.begin(), files.end(), "sub\\nested\\deep.txt"), files.end());
  deleteTree(target_);

  // Stop in the middle of the large text file.
  r.callbacks.progress = [](const std::string& file, uint64_t, uint64_t) { return file != "text.txt"; };
  const Outcome o = extract(r);
  EXPECT_EQ(o.ok, 0);
  EXPECT_EQ(o.error, kArchiveCancelled);
  EXPECT_FALSE(fileExists(target_ + "text.txt"));
  EXPECT_FALSE(fileExists(target_ + "text.txt.orvpart"));
}

TEST_F(OrvLibTest, PasswordsThatAreMissingOrWrong) {
  struct Case {
    const char* archive;
    const char* password;
    std::vector<std::string> offered;
    int32_t error;  // 0: works
  };
  const Case cases[] = {
      {"aes-header.7z", "", {}, kArchiveCannotOpen},
      {"aes-header.7z", "wrong", {}, kArchiveCannotOpen},
      {"aes-header.7z", "wrong", {"secret"}, kArchiveCannotOpen},  // given text wins over the callback
      {"aes-header.7z", "", {"wrong"}, kArchiveCannotOpen},
      {"aes-header.7z", "", {"wrong", "secret"}, 0},  // the callback is asked again
      {"aes.7z", "", {}, kArchiveCannotOpen},
      {"aes.7z", "wrong", {}, kArchiveCannotOpen},
      {"aes-bcj2-header.7z", "Secret", {}, kArchiveCannotOpen},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.archive << " password '" << c.password << "' offered "
                                    << c.offered.size());
    Request r{fixture(c.archive)};
    r.password = c.password;
    r.callbacks.passwords = c.offered;
    const Outcome o = extract(r);
    EXPECT_EQ(o.ok, c.error == 0 ? 1 : 0);
    EXPECT_EQ(o.error, c.error);
    if (c.error) {
      EXPECT_FALSE(fileExists(target_ + "text.txt"));
    }
    deleteTree(target_);
  }
}

TEST_F(OrvLibTest, MissingDamagedAndForeignArchivesFailWithAnErrorNumber) {
  const std::string good = contents(fixture("copy-plain-header.7z"));
  std::string damagedData = good;
  damagedData[40] ^= 0x01;  // a byte of packed file data: the header stays valid
  const std::string cases[][2] = {
      {"truncated.7z", good.substr(0, good.size() / 2)},
      {"no-end.7z", good.substr(0, good.size() - 1)},
      {"foreign.7z", "this is not an archive"},
      {"empty.7z", ""},
      {"damaged.7z", damagedData},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(writeWholeFile(root_ + name, bytes));
    const Outcome o = extract({root_ + name});
    EXPECT_EQ(o.ok, 0);
    EXPECT_EQ(o.error, name == "damaged.7z" ? kArchiveCorrupt : kArchiveCannotOpen);
  }
  const Outcome missing = extract({root_ + "missing.7z"});
  EXPECT_EQ(missing.ok, 0);
  EXPECT_EQ(missing.error, kArchiveNotFound);
  EXPECT_EQ(extract({root_ + "no-such-folder\\missing.7z"}).error, kArchiveNotFound);
}

archive::WriterEntry entry(std::string name, std::string text) {
  archive::WriterEntry e;
  e.name = std::move(name);
  e.data.assign(text.begin(), text.end());
  return e;
}

TEST_F(OrvLibTest, RefusesClimbingAndAbsolutePathsWritingNothing) {
  for (const char* evil : {"..\\evil.txt", "../evil.txt", "a/../../evil.txt", "C:\\evil.txt", "\\evil.txt",
                           "\\\\?\\C:\\evil.txt", "NUL"}) {
    for (bool flatten : {false, true}) {
      SCOPED_TRACE(testing::Message() << evil << (flatten ? " flattened" : ""));
      Request r{writeArchive({entry("first.txt", "fine"), entry(evil, "evil"), entry("last.txt", "fine")}, "evil.7z")};
      r.flatten = flatten;
      const Outcome o = extract(r);
      EXPECT_EQ(o.ok, 0);
      EXPECT_EQ(o.error, kArchiveIllegalPath);
      EXPECT_FALSE(folderExists(target_));
      EXPECT_FALSE(fileExists(root_ + "evil.txt"));
    }
  }
  // A name that climbs but comes back stays inside.
  Request r{writeArchive({entry("a/../inside.txt", "fine")}, "inside.7z")};
  ASSERT_EQ(extract(r).ok, 1);
  EXPECT_EQ(contents(target_ + "inside.txt"), "fine");
}

TEST_F(OrvLibTest, ListsEntriesUntilClosed) {
  OrvListEntry* entries = nullptr;
  int32_t count = -1;
  HANDLE list = lib_.openList(fixture("aes-header.7z").c_str(), 0, passwordCallback, 0, 0, 0, "secret", &entries, &count);
  ASSERT_NE(list, nullptr) << lib_.lastError();
  ASSERT_EQ(count, static_cast<int32_t>(treeFiles().size() + std::size(kTreeFolders)));
  std::map<std::string, OrvListEntry> byName;
  for (int32_t i = 0; i < count; ++i) byName[entries[i].path] = entries[i];
  const OrvListEntry& deep = byName.at("sub\\nested\\deep.txt");
  EXPECT_EQ(deep.size, 13u);
  EXPECT_EQ(deep.isFolder, 0u);
  EXPECT_EQ(deep.hasCrc, 1u);
  EXPECT_EQ(deep.modified, kOtherModified);
  EXPECT_EQ(byName.at("text.txt").modified, kTextModified);
  EXPECT_EQ(byName.at("emptydir").isFolder, 1u);
  EXPECT_TRUE(byName.at("emptydir").attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(byName.at("readonly.txt").attributes & FILE_ATTRIBUTE_READONLY);
  lib_.closeList(list);
  lib_.closeList(list);  // a second close, and a handle never handed out, are ignored
  lib_.closeList(reinterpret_cast<HANDLE>(0x1234));

  struct Failure {
    std::string archive;
    const char* password;
    int32_t error;
  };
  const Failure failures[] = {
      {fixture("aes-header.7z"), "wrong", kArchiveCannotOpen},
      {fixture("missing.7z"), "", kArchiveNotFound},
      {fixture("tree\\text.txt"), "", kArchiveCannotOpen},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.archive);
    entries = reinterpret_cast<OrvListEntry*>(1);
    count = -1;
    EXPECT_EQ(lib_.openList(f.archive.c_str(), 0, nullptr, 0, 0, 0, f.password, &entries, &count), nullptr);
    EXPECT_EQ(lib_.lastError(), f.error);
    EXPECT_EQ(entries, nullptr);
    EXPECT_EQ(count, 0);
  }
}

}  // namespace
}  // namespace orv
