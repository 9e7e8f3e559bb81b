// A small native extractor over the 7z reader for bench/run-extract.sh: extracts a whole archive into a
// folder with plain POSIX calls, so the measured time is the reader's and the decoders', plus the
// writing any extractor does.
//   extract_bench ARCHIVE OUTPUT-FOLDER
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>

#include "core/archive/entry_path.h"
#include "core/archive/sevenzip.h"
#include "posix_file_input.h"

namespace {

using namespace orv::archive;

using FileInput = orv::bench::PosixFileInput;

[[noreturn]] void fail(const std::string& what) { throw ArchiveError(ArchiveErrorKind::Io, what); }

class FileOutput final : public EntryOutput {
 public:
  explicit FileOutput(const std::string& path) : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)) {
    if (fd_ < 0) fail("cannot create " + path);
  }
  ~FileOutput() override { ::close(fd_); }
  void write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n <= 0) fail("write failed");
      data += n;
      size -= static_cast<size_t>(n);
    }
  }
  void commit() override {}

 private:
  int fd_;
};

class FolderSink final : public ExtractSink {
 public:
  explicit FolderSink(std::string root) : root_(std::move(root)) { ensureFolder(root_); }

  std::unique_ptr<EntryOutput> open(size_t, const ArchiveEntry& e) override {
    auto relative = safeRelativePath(e.name);
    if (!relative) fail("unsafe path " + e.name);
    std::replace(relative->begin(), relative->end(), '\\', '/');
    const std::string path = root_ + "/" + *relative;
    if (e.isFolder) {
      ensureFolder(path);
      return nullptr;
    }
    ensureFolder(path.substr(0, path.rfind('/')));
    return std::make_unique<FileOutput>(path);
  }

 private:
  void ensureFolder(const std::string& path) {
    if (made_.count(path)) return;
    for (size_t pos = 1;; ++pos) {
      pos = path.find('/', pos);
      const std::string level = path.substr(0, pos);
      if (!made_.count(level) && mkdir(level.c_str(), 0755) != 0 && errno != EEXIST) fail("cannot create " + level);
      made_.insert(level);
      if (pos == std::string::npos) break;
    }
  }

  std::string root_;
  std::set<std::string> made_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: extract_bench ARCHIVE OUTPUT-FOLDER\n");
    return 2;
  }
  try {
    const auto start = std::chrono::steady_clock::now();
    FileInput input(argv[1]);
    SevenZipArchive archive(input);
    FolderSink sink(argv[2]);
    archive.extract({}, sink);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%zu entries in %.3f s\n", archive.entries().size(), took.count());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "extract_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
