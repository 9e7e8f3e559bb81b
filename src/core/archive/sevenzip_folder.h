// The decoders of one 7z folder, chained along its coder graph, read as one unpacked stream.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/archive/sevenzip_format.h"

namespace orv::archive::sevenzip {

class FolderStream {
 public:
  // `password` is needed only when the folder holds an AES coder.
  FolderStream(ArchiveInput& input, const StreamsInfo& streams, size_t folderIndex, const std::u16string* password);
  ~FolderStream();
  FolderStream(const FolderStream&) = delete;
  FolderStream& operator=(const FolderStream&) = delete;

  // Reads the unpacked stream; fewer bytes than asked only at its stated end. A stream that ends
  // before its stated size is Corrupt.
  size_t read(uint8_t* dst, size_t size);
  void skip(uint64_t size, std::vector<uint8_t>& scratch);
  uint64_t left() const { return left_; }

 private:
  ByteSource& decoderFor(uint32_t coder);
  ByteSource& packedStream(uint32_t inIndex);
  void releaseSources();  // consumers before the sources they read

  ArchiveInput& input_;
  const StreamsInfo& streams_;
  const Folder& folder_;
  const std::u16string* password_;
  // Every source of the chain, each after the sources it reads, so they are destroyed consumers first.
  std::vector<std::unique_ptr<ByteSource>> sources_;
  ByteSource* main_ = nullptr;
  uint64_t left_ = 0;
};

}  // namespace orv::archive::sevenzip
