#include "orv/file_input.h"

#include <algorithm>

#include "orv/library_error.h"
#include "orv/orv_api.h"

namespace orv::lib {

FileInput::FileInput(const std::wstring& path) {
  file_ = ownFileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file_) {
    const DWORD error = GetLastError();
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                         error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME || error == ERROR_INVALID_NAME ||
                         error == ERROR_INVALID_DRIVE;
    throw LibraryError(missing ? kArchiveNotFound : kArchiveCannotOpen, "the archive cannot be opened");
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file_.get(), &size)) throw LibraryError(kArchiveCannotOpen, "the archive's size is unknown");
  size_ = static_cast<uint64_t>(size.QuadPart);
}

size_t FileInput::readAt(uint64_t offset, uint8_t* dst, size_t size) {
  if (offset >= size_ || size == 0) return 0;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD want = static_cast<DWORD>(std::min<uint64_t>({size, size_ - offset, uint64_t(1) << 30}));
  DWORD got = 0;
  if (!ReadFile(file_.get(), dst, want, &got, &at) && GetLastError() != ERROR_HANDLE_EOF)
    throw archive::ArchiveError(archive::ArchiveErrorKind::Io, "the archive cannot be read");
  return got;
}

}  // namespace orv::lib
