// Decoders of the 7z coder methods. Each wraps its input source(s) and produces the unpacked stream.
// `outSize` is the unpacked size the archive states for the coder's output; decoders stop there and
// report Corrupt when the data ends early or does not fit.
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "core/archive/stream.h"

namespace orv::archive {

// Method ids as the 7z format numbers them.
inline constexpr uint64_t kMethodCopy = 0x00;
inline constexpr uint64_t kMethodLzma2 = 0x21;
inline constexpr uint64_t kMethodLzma = 0x030101;
inline constexpr uint64_t kMethodBcjX86 = 0x03030103;
inline constexpr uint64_t kMethodBcj2 = 0x0303011B;
inline constexpr uint64_t kMethodAes = 0x06F10701;

// An `outSize` of kUnknownSize lets an LZMA or LZMA2 stream end at its own end mark.
inline constexpr uint64_t kUnknownSize = UINT64_MAX;

std::unique_ptr<ByteSource> makeLzmaDecoder(std::span<const uint8_t> props, ByteSource& in, uint64_t outSize);
std::unique_ptr<ByteSource> makeLzma2Decoder(std::span<const uint8_t> props, ByteSource& in, uint64_t outSize);
std::unique_ptr<ByteSource> makeBcjX86Decoder(ByteSource& in);
// BCJ2 takes four inputs: the main stream, the call stream, the jump stream and the range-coded stream.
std::unique_ptr<ByteSource> makeBcj2Decoder(ByteSource& main, ByteSource& call, ByteSource& jump, ByteSource& rc,
                                            uint64_t outSize);
// AES-256-CBC with the 7z key derivation (SHA-256 iterated over salt + UTF-16LE password).
std::unique_ptr<ByteSource> makeAesDecoder(std::span<const uint8_t> props, const std::u16string& password,
                                           ByteSource& in);

uint32_t crc32(std::span<const uint8_t> data, uint32_t crc = 0);

}  // namespace orv::archive
