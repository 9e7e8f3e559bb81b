// libFuzzer over the LZMA and LZMA2 decoders (optionally behind the x86 branch filter). Input layout:
//   byte 0      bit 0: LZMA2 (else LZMA); bit 1: size unknown (end marker / end chunk decides);
//               bit 2: x86 filter on the output; bits 3-6: read size 2^n
//   bytes 1-2   stated output size in 4-byte units (so at most 256 KiB)
//   props       5 bytes (LZMA) or 1 byte (LZMA2)
//   the rest    packed data
// Every outcome but a clean end or an ArchiveError(Corrupt/Unsupported) is a finding, as is output
// beyond the stated size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/archive/codecs.h"

using namespace orv::archive;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t mode = data[0];
  const bool lzma2 = mode & 1;
  const bool unknownSize = mode & 2;
  const bool filtered = mode & 4;
  const size_t readSize = size_t(1) << ((mode >> 3) & 15);
  const uint64_t statedSize = (uint64_t(data[1]) | uint64_t(data[2]) << 8) * 4;
  const size_t propsSize = lzma2 ? 1 : 5;
  if (size < 3 + propsSize) return 0;
  std::vector<uint8_t> props(data + 3, data + 3 + propsSize);
  // LZMA literal tables beyond lc + lp = 8 (up to 6 MiB) would make every run slow for no new paths:
  // lc=8 lp=4 is a decoder test.
  if (!lzma2 && props[0] < 225 && props[0] % 9 + props[0] / 9 % 5 > 8)
    props[0] = static_cast<uint8_t>(props[0] - props[0] % 9);  // lc = 0
  // Without a stated size the window is the whole dictionary: keep it small so runs stay fast.
  if (unknownSize && lzma2 && props[0] > 14) props[0] = 14;  // 256 KiB
  if (unknownSize && !lzma2 && (props[4] != 0 || props[3] > 0x04)) {
    const uint8_t quarterMiB[4] = {0, 0, 0x04, 0};
    std::memcpy(props.data() + 1, quarterMiB, 4);
  }
  MemorySource packed({data + 3 + propsSize, size - 3 - propsSize});

  uint64_t total = 0;
  try {
    const uint64_t outSize = unknownSize ? kUnknownSize : statedSize;
    std::unique_ptr<ByteSource> decoder =
        lzma2 ? makeLzma2Decoder(props, packed, outSize) : makeLzmaDecoder(props, packed, outSize);
    std::unique_ptr<ByteSource> filter = filtered ? makeBcjX86Decoder(*decoder) : nullptr;
    ByteSource& out = filter ? *filter : *decoder;
    std::vector<uint8_t> buffer(readSize);
    // Without a stated size a tiny input can still stand for much output; stop after 1 MiB.
    for (size_t n; (n = out.read(buffer.data(), buffer.size())) > 0 && total < (uint64_t(1) << 20);) total += n;
  } catch (const ArchiveError& e) {
    if (e.kind() != ArchiveErrorKind::Corrupt && e.kind() != ArchiveErrorKind::Unsupported) std::abort();
    return 0;
  }
  if (!unknownSize && total != statedSize) std::abort();
  return 0;
}
