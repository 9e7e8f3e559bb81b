// The archive file, read through the wide Win32 API at any offset.
#pragma once
#include <windows.h>

#include <string>

#include "core/archive/sevenzip.h"
#include "platform/handles.h"

namespace orv::lib {

class FileInput final : public archive::ArchiveInput {
 public:
  // Throws LibraryError: kArchiveNotFound when the file is missing, kArchiveCannotOpen otherwise.
  explicit FileInput(const std::wstring& path);
  uint64_t size() const override { return size_; }
  size_t readAt(uint64_t offset, uint8_t* dst, size_t size) override;

 private:
  UniqueHandle file_;
  uint64_t size_ = 0;
};

}  // namespace orv::lib
