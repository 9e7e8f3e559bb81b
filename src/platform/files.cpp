#include "platform/files.h"

#include <windows.h>

#include <algorithm>

#include "platform/handles.h"
#include "platform/strings.h"

namespace orv {

bool readWholeFile(const std::string& path, std::string& bytes) {
  UniqueHandle f = ownFileHandle(CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(f.get(), &size) || size.QuadPart < 0 || uint64_t(size.QuadPart) > SIZE_MAX / 2) return false;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30)), got = 0;
    if (!ReadFile(f.get(), bytes.data() + done, chunk, &got, nullptr) || got == 0) return false;
    done += got;
  }
  return true;
}

bool writeWholeFile(const std::string& path, const std::string& bytes) {
  UniqueHandle f = ownFileHandle(CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30)), put = 0;
    if (!WriteFile(f.get(), bytes.data() + done, chunk, &put, nullptr) || put == 0) return false;
    done += put;
  }
  return true;
}

bool fileExists(const std::string& path) {
  const DWORD a = GetFileAttributesW(widen(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool folderExists(const std::string& path) {
  const DWORD a = GetFileAttributesW(widen(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool createFolders(const std::string& path) {
  std::wstring w = widen(path);
  while (!w.empty() && (w.back() == L'\\' || w.back() == L'/')) w.pop_back();
  if (w.empty()) return false;
  const DWORD a = GetFileAttributesW(w.c_str());
  if (a != INVALID_FILE_ATTRIBUTES) return (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const size_t sep = w.find_last_of(L"\\/");
  if (sep != std::wstring::npos && sep > 0 && w[sep - 1] != L':' && !(sep == 1 && w[0] == L'\\'))
    createFolders(narrow(w.substr(0, sep)));
  return CreateDirectoryW(w.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::vector<FolderEntry> folderEntries(const std::string& pattern) {
  std::vector<FolderEntry> entries;
  WIN32_FIND_DATAW fd;
  UniqueFind find(FindFirstFileW(widen(pattern).c_str(), &fd));
  if (find.get() == INVALID_HANDLE_VALUE) return entries;
  do {
    std::string name = narrow(fd.cFileName);
    if (name != "." && name != "..") entries.push_back({std::move(name), fd.dwFileAttributes});
  } while (FindNextFileW(find.get(), &fd));
  return entries;
}

namespace {
void emptyFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW fd;
  UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &fd));
  if (find.get() == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring full = folder + L"\\" + name;
    SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
    if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      emptyFolder(full);
      RemoveDirectoryW(full.c_str());
    } else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveDirectoryW(full.c_str());  // a junction: remove the link, never what it points to
    } else {
      DeleteFileW(full.c_str());
    }
  } while (FindNextFileW(find.get(), &fd));
}
}  // namespace

bool deleteTree(const std::string& path) {
  std::wstring w = widen(path);
  while (!w.empty() && w.back() == L'\\') w.pop_back();
  if (w.empty()) return false;
  emptyFolder(w);
  RemoveDirectoryW(w.c_str());
  return GetFileAttributesW(w.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool copyFileOver(const std::string& from, const std::string& to) {
  const std::wstring target = widen(to);
  SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  return CopyFileW(widen(from).c_str(), target.c_str(), FALSE) != 0;
}

bool setNormalAttributes(const std::string& path) {
  return SetFileAttributesW(widen(path).c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

int64_t fileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &d)) return -1;
  return (int64_t(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

}  // namespace orv
