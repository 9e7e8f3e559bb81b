// libFuzzer over the 7z reader: lists the archive, checks every entry path and extracts everything to a
// sink that counts bytes. The header CRCs are refreshed first so mutations reach the parser instead of
// stopping at a CRC check. Limits keep each run small: a few thousand entries, a 1 MiB header and
// 32 MiB of output (a few bytes of LZMA can stand for gigabytes).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/archive/entry_path.h"
#include "core/archive/sevenzip.h"
#include "core/archive/sevenzip_writer.h"

namespace {

using namespace orv::archive;

constexpr uint64_t kMaxOutput = uint64_t(32) << 20;

class CountingSink final : public ExtractSink {
 public:
  std::unique_ptr<EntryOutput> open(size_t, const ArchiveEntry&) override { return std::make_unique<Output>(*this); }

 private:
  struct Output final : EntryOutput {
    explicit Output(CountingSink& s) : sink(s) {}
    void write(const uint8_t*, size_t size) override {
      sink.total_ += size;
      if (sink.total_ > kMaxOutput) throw ArchiveError(ArchiveErrorKind::Cancelled, "enough output");
    }
    void commit() override {}
    CountingSink& sink;
  };
  uint64_t total_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  refreshHeaderCrcs(bytes);
  MemoryInput input(bytes);
  ArchiveLimits limits;
  limits.maxHeaderSize = 1 << 20;
  limits.maxEntries = 4096;
  limits.maxPasswordAttempts = 1;
  try {
    // No password: AES key derivation would make each run slow without reaching more of the container.
    SevenZipArchive archive(input, {}, limits);
    for (const auto& e : archive.entries()) (void)safeRelativePath(e.name);
    CountingSink sink;
    archive.extract({}, sink);
  } catch (const ArchiveError&) {
  }
  return 0;
}
