// Decoding speed of the 7z reader without any file writing: decodes every entry of an archive and
// checks its CRC, which is what `7zz t` does, so the two compare directly.
//   decode_bench ARCHIVE [RUNS]   prints the best run in seconds and MB/s of unpacked data
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/archive/sevenzip.h"
#include "posix_file_input.h"

namespace {

using namespace orv::archive;

using FileInput = orv::bench::PosixFileInput;

// Counts the bytes; the reader checks each entry's CRC before commit.
class CountingOutput final : public EntryOutput {
 public:
  explicit CountingOutput(uint64_t& total) : total_(total) {}
  void write(const uint8_t*, size_t size) override { total_ += size; }
  void commit() override {}

 private:
  uint64_t& total_;
};

class CountingSink final : public ExtractSink {
 public:
  std::unique_ptr<EntryOutput> open(size_t, const ArchiveEntry& e) override {
    return e.isFolder ? nullptr : std::make_unique<CountingOutput>(total);
  }
  uint64_t total = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: decode_bench ARCHIVE [RUNS]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  try {
    double best = 1e30;
    uint64_t bytes = 0;
    for (int i = 0; i < runs; ++i) {
      const auto start = std::chrono::steady_clock::now();
      FileInput input(argv[1]);
      SevenZipArchive archive(input);
      CountingSink sink;
      archive.extract({}, sink);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      best = std::min(best, took.count());
      bytes = sink.total;
    }
    std::printf("%llu bytes, best of %d: %.3f s, %.1f MB/s\n", static_cast<unsigned long long>(bytes), runs, best,
                bytes / best / 1e6);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "decode_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
