// Packing speed of orvmake's 7z writer (compare with `7zz a -m0=lzma2 -mx5 -mmt=1`, bench/run-pack.sh):
//   pack_bench FOLDER ARCHIVE [PASSWORD]
// packs the folder's tree at the archive's root and prints the files, bytes in, bytes out, seconds and
// the peak resident memory (the writer streams, so it should not grow with the input).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>

#include "orvmake/archive_writer.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: pack_bench FOLDER ARCHIVE [PASSWORD]\n");
    return 2;
  }
  try {
    orv::make::PackOptions options;
    if (argc == 4) options.password = argv[3];
    orv::make::PackProgress last;
    options.progress = [&](const orv::make::PackProgress& p) { last = p; };
    std::filesystem::remove(argv[2]);
    const auto start = std::chrono::steady_clock::now();
    orv::make::writeArchive(argv[2], orv::make::entriesOfFolder(argv[1], ""), options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("files %zu, bytes in %llu, archive %llu bytes, %.2f s, peak memory %ld MB\n", last.filesTotal,
                static_cast<unsigned long long>(last.bytesTotal), static_cast<unsigned long long>(last.bytesWritten),
                seconds, usage.ru_maxrss / 1024);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pack_bench: %s\n", e.what());
    return 1;
  }
}
