#include "core/archive/sevenzip_folder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/archive/codecs.h"

namespace orv::archive::sevenzip {

namespace {

[[noreturn]] void corrupt(const char* what) { throw ArchiveError(ArchiveErrorKind::Corrupt, what); }

// One packed stream of the archive, read through a buffer so decoders that pull a few bytes at a time
// do not turn into as many reads of the file.
class PackStreamSource final : public ByteSource {
 public:
  PackStreamSource(ArchiveInput& input, uint64_t offset, uint64_t size)
      : input_(input), offset_(offset), left_(size),
        buffer_(static_cast<size_t>(std::min<uint64_t>(size, kBufferSize))) {}

  size_t read(uint8_t* dst, size_t size) override {
    if (pos_ == end_) {
      if (left_ == 0) return 0;
      // A large request skips the buffer.
      if (size >= buffer_.size()) return fill(dst, static_cast<size_t>(std::min<uint64_t>(size, left_)));
      pos_ = 0;
      end_ = fill(buffer_.data(), static_cast<size_t>(std::min<uint64_t>(buffer_.size(), left_)));
    }
    const size_t n = std::min(size, end_ - pos_);
    std::memcpy(dst, buffer_.data() + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  static constexpr size_t kBufferSize = size_t(256) << 10;

  size_t fill(uint8_t* dst, size_t size) {
    const size_t n = input_.readAt(offset_, dst, size);
    if (n == 0) corrupt("the archive is truncated");
    offset_ += n;
    left_ -= n;
    return n;
  }

  ArchiveInput& input_;
  uint64_t offset_;
  uint64_t left_;
  std::vector<uint8_t> buffer_;
  size_t pos_ = 0, end_ = 0;
};

// Yields exactly `size` bytes of its input: stops there, and a shorter input is damage. Coders whose
// factories take no output size (copy, BCJ, AES with its block padding) are read through it.
class ExactSizeSource final : public ByteSource {
 public:
  ExactSizeSource(ByteSource& inner, uint64_t size) : inner_(inner), left_(size) {}

  size_t read(uint8_t* dst, size_t size) override {
    if (left_ == 0) return 0;
    const size_t n = inner_.read(dst, static_cast<size_t>(std::min<uint64_t>(size, left_)));
    if (n == 0) corrupt("a coder's data ends early");
    left_ -= n;
    return n;
  }

 private:
  ByteSource& inner_;
  uint64_t left_;
};

std::string methodName(uint64_t method) {
  char text[32];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(method));
  return text;
}

}  // namespace

FolderStream::FolderStream(ArchiveInput& input, const StreamsInfo& streams, size_t folderIndex,
                           const std::u16string* password)
    : input_(input), streams_(streams), folder_(streams.folders.at(folderIndex)), password_(password) {
  try {
    main_ = &decoderFor(folder_.mainCoder);
  } catch (...) {
    releaseSources();
    throw;
  }
  left_ = folder_.unpackSize();
}

FolderStream::~FolderStream() { releaseSources(); }

void FolderStream::releaseSources() {
  while (!sources_.empty()) sources_.pop_back();
}

ByteSource& FolderStream::packedStream(uint32_t inIndex) {
  const auto it = std::find(folder_.packedStreams.begin(), folder_.packedStreams.end(), inIndex);
  const size_t pack = folder_.firstPackStream + static_cast<size_t>(it - folder_.packedStreams.begin());
  sources_.push_back(
      std::make_unique<PackStreamSource>(input_, streams_.packOffsets.at(pack), streams_.packSizes.at(pack)));
  return *sources_.back();
}

// The header parser checked that the coders form a tree, so this recursion visits each coder once and
// goes no deeper than the coder count.
ByteSource& FolderStream::decoderFor(uint32_t coderIndex) {
  const Coder& coder = folder_.coders[coderIndex];
  std::vector<ByteSource*> in;
  for (uint32_t i = coder.firstInStream; i < coder.firstInStream + coder.numInStreams; ++i) {
    const auto bp = std::find_if(folder_.bindPairs.begin(), folder_.bindPairs.end(),
                                 [&](const BindPair& p) { return p.inIndex == i; });
    in.push_back(bp != folder_.bindPairs.end() ? &decoderFor(bp->outIndex) : &packedStream(i));
  }
  const uint64_t outSize = folder_.unpackSizes[coderIndex];
  const std::span<const uint8_t> props = coder.properties;
  const size_t expectedInputs = coder.method == kMethodBcj2 ? 4 : 1;
  if (in.size() != expectedInputs)
    throw ArchiveError(ArchiveErrorKind::Unsupported, "coder " + methodName(coder.method) + " with this many inputs");

  auto keep = [&](std::unique_ptr<ByteSource> s) -> ByteSource& {
    sources_.push_back(std::move(s));
    return *sources_.back();
  };
  auto exact = [&](ByteSource& s) -> ByteSource& { return keep(std::make_unique<ExactSizeSource>(s, outSize)); };
  switch (coder.method) {
    case kMethodCopy:
      return exact(*in[0]);
    case kMethodLzma:
      return keep(makeLzmaDecoder(props, *in[0], outSize));
    case kMethodLzma2:
      return keep(makeLzma2Decoder(props, *in[0], outSize));
    case kMethodBcjX86:
      return exact(keep(makeBcjX86Decoder(*in[0])));
    case kMethodBcj2:
      return keep(makeBcj2Decoder(*in[0], *in[1], *in[2], *in[3], outSize));
    case kMethodAes:
      if (!password_) throw ArchiveError(ArchiveErrorKind::WrongPassword, "the archive needs a password");
      return exact(keep(makeAesDecoder(props, *password_, *in[0])));
    default:
      throw ArchiveError(ArchiveErrorKind::Unsupported, "compression method " + methodName(coder.method));
  }
}

size_t FolderStream::read(uint8_t* dst, size_t size) {
  if (left_ == 0) return 0;
  const size_t n = main_->read(dst, static_cast<size_t>(std::min<uint64_t>(size, left_)));
  if (n == 0) corrupt("a folder's data ends early");
  left_ -= n;
  return n;
}

void FolderStream::skip(uint64_t size, std::vector<uint8_t>& scratch) {
  while (size > 0) {
    const size_t n = read(scratch.data(), static_cast<size_t>(std::min<uint64_t>(size, scratch.size())));
    if (n == 0) corrupt("a folder's data ends early");
    size -= n;
  }
}

}  // namespace orv::archive::sevenzip
