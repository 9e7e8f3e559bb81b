#include "orv/folder_writer.h"

#include "core/archive/entry_path.h"
#include "orv/library_error.h"
#include "platform/handles.h"
#include "platform/strings.h"

namespace orv::lib {

namespace {

using archive::ArchiveEntry;

// Attributes an extracted entry takes from the archive; the rest (compression, reparse points,
// offline, ...) describe how the packing system stored the file, not the file.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

[[noreturn]] void writeFailed(const std::wstring& path) {
  throw LibraryError(kArchiveWriteFailed, "cannot write " + narrow(path));
}

FILETIME fileTime(uint64_t t) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return ft;
}

void clearReadOnly(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesW(path.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
}

DWORD attributesFor(const ArchiveEntry& e) {
  const DWORD a = e.attributes.value_or(0) & kKeptAttributes;
  return a ? a : FILE_ATTRIBUTE_NORMAL;
}

// Length of the root of a long path: "\\?\C:\" or "\\?\UNC\server\share\".
size_t rootLength(const std::wstring& path) {
  static const std::wstring kUnc = L"\\\\?\\UNC\\";
  if (path.compare(0, kUnc.size(), kUnc) != 0) return 7;
  const size_t server = path.find(L'\\', kUnc.size());
  const size_t share = server == std::wstring::npos ? server : path.find(L'\\', server + 1);
  return share == std::wstring::npos ? path.size() : share + 1;
}

// A file being extracted. A new file is written in its place; one that exists already is written
// beside it and moved over it only when whole, so a failed extraction never leaves the old file cut
// short. Fewer calls per file matter: under Wine each is a round trip to its server.
class FileOutput final : public archive::EntryOutput {
 public:
  FileOutput(std::wstring target, const ArchiveEntry& entry, Progress& progress)
      : target_(std::move(target)), entry_(entry), progress_(progress) {
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
    file_ = ownFileHandle(CreateFileW(target_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, kFlags, nullptr));
    if (!file_ && GetLastError() == ERROR_FILE_EXISTS) {
      partial_ = target_ + L".orvpart";
      file_ = ownFileHandle(CreateFileW(partial_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, kFlags, nullptr));
    }
    if (!file_) writeFailed(target_);
  }

  ~FileOutput() override {
    if (committed_) return;
    file_.reset();
    DeleteFileW(written().c_str());
  }

  void write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
      if (!WriteFile(file_.get(), data, chunk, &written, nullptr) || written == 0) writeFailed(target_);
      data += written;
      size -= written;
      progress_.advance(written);
    }
  }

  void commit() override {
    if (entry_.modified) {
      const FILETIME t = fileTime(*entry_.modified);
      if (!SetFileTime(file_.get(), nullptr, nullptr, &t)) writeFailed(target_);
    }
    file_.reset();
    if (!partial_.empty()) {
      clearReadOnly(target_);
      if (!MoveFileExW(partial_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) writeFailed(target_);
    }
    committed_ = true;
    // A file made here carries the archive mark already, which is what most archives ask for.
    const DWORD wanted = attributesFor(entry_);
    if (partial_.empty() && wanted == FILE_ATTRIBUTE_ARCHIVE) return;
    if (!SetFileAttributesW(target_.c_str(), wanted)) writeFailed(target_);
  }

 private:
  const std::wstring& written() const { return partial_.empty() ? target_ : partial_; }

  std::wstring target_;
  std::wstring partial_;  // empty: writing the target itself
  ArchiveEntry entry_;
  Progress& progress_;
  UniqueHandle file_;
  bool committed_ = false;
};

}  // namespace

void Progress::startFile(const std::string& utf8Name) {
  file_ = toCodePage(archive::withBackslashes(utf8Name), CP_ACP);
  report();
}

void Progress::advance(uint64_t bytes) {
  done_ += bytes;
  report();
}

void Progress::finish() { report(); }

void Progress::report() {
  if (!callback_) return;
  if (callback_(file_.c_str(), static_cast<uint32_t>(done_), static_cast<uint32_t>(done_ >> 32),
                static_cast<uint32_t>(total_), static_cast<uint32_t>(total_ >> 32)) == 0)
    throw archive::ArchiveError(archive::ArchiveErrorKind::Cancelled, "extraction cancelled");
}

std::wstring longFolderPath(const std::wstring& folder) {
  const DWORD needed = GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
  if (needed == 0) throw LibraryError(kArchiveIllegalPath, "the target folder is not a valid path");
  std::wstring full(needed, L'\0');
  const DWORD n = GetFullPathNameW(folder.c_str(), needed, full.data(), nullptr);
  if (n == 0 || n >= needed) throw LibraryError(kArchiveIllegalPath, "the target folder is not a valid path");
  full.resize(n);
  if (full.back() != L'\\') full += L'\\';
  if (full.compare(0, 4, L"\\\\?\\") == 0) return full;
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

FolderWriter::FolderWriter(std::wstring root, std::vector<std::wstring> targets, Progress& progress)
    : root_(std::move(root)), targets_(std::move(targets)), progress_(progress) {
  ensureFolder(root_.substr(0, root_.size() - 1));
}

// Creates each missing level in turn (no recursion: an entry name may have thousands of parts).
void FolderWriter::ensureFolder(const std::wstring& path) {
  if (existingFolders_.count(path) || rootLength(path) >= path.size()) return;
  for (size_t pos = rootLength(path);;) {
    const size_t next = path.find(L'\\', pos);
    const std::wstring level = path.substr(0, next);
    if (!level.empty() && !existingFolders_.count(level)) {
      if (!CreateDirectoryW(level.c_str(), nullptr)) {
        const DWORD a = GetFileAttributesW(level.c_str());
        if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) writeFailed(level);
      }
      existingFolders_.insert(level);
    }
    if (next == std::wstring::npos) break;
    pos = next + 1;
  }
}

std::unique_ptr<archive::EntryOutput> FolderWriter::open(size_t index, const ArchiveEntry& entry) {
  const std::wstring& relative = targets_.at(index);
  if (relative.empty()) return nullptr;
  progress_.startFile(entry.name);
  const std::wstring path = root_ + relative;
  if (entry.isFolder) {
    ensureFolder(path);
    folders_.emplace_back(path, entry);
    return nullptr;
  }
  const size_t slash = path.rfind(L'\\');
  ensureFolder(path.substr(0, slash));
  return std::make_unique<FileOutput>(path, entry, progress_);
}

// Best effort, as a folder's attributes and time are not its content.
void FolderWriter::finish() {
  for (const auto& [path, entry] : folders_) {
    if (entry.modified) {
      UniqueHandle folder = ownFileHandle(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      const FILETIME t = fileTime(*entry.modified);
      if (folder) SetFileTime(folder.get(), nullptr, nullptr, &t);
    }
    if (entry.attributes) SetFileAttributesW(path.c_str(), attributesFor(entry));
  }
}

}  // namespace orv::lib
