// The archive library's exports. Each export catches everything: nothing may unwind into the caller,
// which knows only the error number left for GetLastArchiveError (per thread).
#include <windows.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <unordered_set>

#include "core/archive/entry_path.h"
#include "core/archive/sevenzip.h"
#include "core/text.h"
#include "orv/file_input.h"
#include "orv/folder_writer.h"
#include "orv/library_error.h"
#include "orv/orv_api.h"
#include "platform/strings.h"

namespace orv::lib {

namespace {

using archive::ArchiveEntry;
using archive::ArchiveError;
using archive::ArchiveErrorKind;

thread_local int32_t tLastError = 0;

std::wstring ansiToWide(const char* text) {
  if (!text || !*text) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (n <= 1) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

std::u16string toPassword(const char* ansi) {
  const std::wstring wide = ansiToWide(ansi);
  return std::u16string(wide.begin(), wide.end());
}

// The given password text, or else each password the caller's callback offers.
archive::PasswordSupplier passwordSupplier(const char* password, OrvPasswordCallback callback) {
  if (password && *password) {
    return [given = toPassword(password), used = false]() mutable -> std::optional<std::u16string> {
      if (used) return std::nullopt;
      used = true;
      return given;
    };
  }
  if (!callback) return {};
  return [callback]() -> std::optional<std::u16string> {
    std::vector<char> buffer(kPasswordBufferSize, '\0');
    if (callback(buffer.data()) == 0) return std::nullopt;
    buffer.back() = '\0';
    return toPassword(buffer.data());
  };
}

int32_t errorNumber(ArchiveErrorKind kind) {
  switch (kind) {
    case ArchiveErrorKind::WrongPassword:
      return kArchiveCannotOpen;
    case ArchiveErrorKind::Unsupported:
      return kArchiveUnsupported;
    case ArchiveErrorKind::Cancelled:
      return kArchiveCancelled;
    case ArchiveErrorKind::Corrupt:
    case ArchiveErrorKind::Io:
      break;
  }
  return kArchiveCorrupt;
}

struct OpenedArchive {
  std::unique_ptr<FileInput> input;
  std::unique_ptr<archive::SevenZipArchive> archive;
};

// Whatever keeps the archive from opening (not an archive, a damaged or unsupported header, no or a
// wrong password for an encrypted header) is "cannot open".
OpenedArchive openArchive(const char* path, const char* password, OrvPasswordCallback callback) {
  const std::wstring widePath = ansiToWide(path);
  if (widePath.empty()) throw LibraryError(kArchiveNotFound, "no archive path");
  OpenedArchive opened;
  opened.input = std::make_unique<FileInput>(widePath);
  archive::ArchiveLimits limits;
  limits.maxPasswordAttempts = 8;
  try {
    opened.archive = std::make_unique<archive::SevenZipArchive>(*opened.input, passwordSupplier(password, callback), limits);
  } catch (const ArchiveError& e) {
    throw LibraryError(kArchiveCannotOpen, e.what());
  }
  return opened;
}

// '*' and '?' match any run of characters and any one character; case is ignored.
bool wildcardMatch(std::u32string_view pattern, std::u32string_view text) {
  size_t p = 0, t = 0, star = std::u32string_view::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == U'*') {
      star = p++;
      resume = t;
    } else if (star != std::u32string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

std::u32string matchKey(std::string_view utf8) { return toUtf32(foldKey(archive::withBackslashes(utf8))); }

std::vector<bool> chooseEntries(const std::vector<ArchiveEntry>& entries, const OrvFileSet* files) {
  if (!files || !files->names || files->count <= 0) return std::vector<bool>(entries.size(), true);
  // Callers usually name every entry of a listing: plain names are looked up, only masks are tried one
  // by one, so choosing stays linear in the size of the archive.
  std::unordered_set<std::u32string> names;
  std::vector<std::u32string> patterns;
  for (int32_t i = 0; i < files->count; ++i) {
    if (!files->names[i]) continue;
    std::u32string key = matchKey(fromCodePage(files->names[i], CP_ACP));
    if (key.find_first_of(U"*?") == std::u32string::npos) names.insert(std::move(key));
    else patterns.push_back(std::move(key));
  }
  std::vector<bool> chosen(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::u32string key = matchKey(entries[i].name);
    chosen[i] = names.count(key) > 0 ||
                std::any_of(patterns.begin(), patterns.end(), [&](const auto& p) { return wildcardMatch(p, key); });
  }
  return chosen;
}

// Where each chosen entry goes, relative to the target folder. Checked for every entry before anything
// is written, so an archive with one unsafe name writes nothing at all.
std::vector<std::wstring> planTargets(const std::vector<ArchiveEntry>& entries, std::vector<bool>& chosen, bool flatten) {
  std::vector<std::wstring> targets(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!chosen[i]) continue;
    const auto safe = archive::safeRelativePath(entries[i].name);
    if (!safe) throw LibraryError(kArchiveIllegalPath, "illegal path in the archive: " + entries[i].name);
    if (flatten && entries[i].isFolder) {
      chosen[i] = false;
      continue;
    }
    targets[i] = widen(flatten ? fileNameOf(*safe) : *safe);
  }
  return targets;
}

uint64_t totalBytes(const std::vector<ArchiveEntry>& entries, const std::vector<bool>& chosen) {
  uint64_t total = 0;
  for (size_t i = 0; i < entries.size(); ++i)
    if (chosen[i]) total += entries[i].size;
  return total;
}

template <typename Body>
bool guarded(Body&& body) {
  tLastError = 0;
  try {
    body();
    return true;
  } catch (const LibraryError& e) {
    tLastError = e.number();
  } catch (const ArchiveError& e) {
    tLastError = errorNumber(e.kind());
  } catch (...) {
    tLastError = kArchiveCorrupt;  // out of memory for what the archive states, or anything unforeseen
  }
  return false;
}

struct EntryList {
  std::vector<std::string> names;  // in the system code page
  std::vector<OrvListEntry> records;
};

// The lists handed out and not yet closed, so a stray handle is ignored rather than freed.
class ListRegistry {
 public:
  void add(EntryList* list) {
    std::lock_guard lock(mutex_);
    live_.insert(list);
  }
  bool remove(EntryList* list) {
    std::lock_guard lock(mutex_);
    return live_.erase(list) > 0;
  }

 private:
  std::mutex mutex_;
  std::set<EntryList*> live_;
};

ListRegistry& lists() {
  static ListRegistry registry;
  return registry;
}

std::unique_ptr<EntryList> makeList(const std::vector<ArchiveEntry>& entries) {
  auto list = std::make_unique<EntryList>();
  list->names.reserve(entries.size());
  for (const auto& e : entries) list->names.push_back(toCodePage(archive::withBackslashes(e.name), CP_ACP));
  list->records.resize(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const ArchiveEntry& e = entries[i];
    OrvListEntry& r = list->records[i];
    r.path = list->names[i].c_str();
    r.attributes = e.attributes.value_or(e.isFolder ? FILE_ATTRIBUTE_DIRECTORY : 0);
    r.isFolder = e.isFolder ? 1 : 0;
    r.size = e.size;
    r.modified = e.modified.value_or(0);
    r.crc = e.crc.value_or(0);
    r.hasCrc = e.crc ? 1 : 0;
  }
  return list;
}

}  // namespace

}  // namespace orv::lib

using namespace orv::lib;

extern "C" {

__declspec(dllexport) int32_t WINAPI ExtractArchive(const char* archivePath, int32_t, const char* targetFolder,
                                                    const OrvFileSet* files, int32_t flatten, const char* password,
                                                    OrvPasswordCallback passwordCallback,
                                                    OrvProgressCallback progressCallback, OrvNinthCallback,
                                                    OrvQuestionCallback) {
  return guarded([&] {
    OpenedArchive opened = openArchive(archivePath, password, passwordCallback);
    const auto& entries = opened.archive->entries();
    std::vector<bool> chosen = chooseEntries(entries, files);
    std::vector<std::wstring> targets = planTargets(entries, chosen, flatten != 0);
    const std::wstring folder = ansiToWide(targetFolder);
    if (folder.empty()) throw LibraryError(kArchiveIllegalPath, "no target folder");
    Progress progress(progressCallback, totalBytes(entries, chosen));
    FolderWriter writer(longFolderPath(folder), std::move(targets), progress);
    opened.archive->extract(chosen, writer);
    writer.finish();
    progress.finish();
  }) ? 1 : 0;
}

__declspec(dllexport) HANDLE WINAPI OpenListArchive(const char* archivePath, int32_t,
                                                    OrvPasswordCallback passwordCallback, int32_t, int32_t, int32_t,
                                                    const char* password, OrvListEntry** entries, int32_t* count) {
  if (entries) *entries = nullptr;
  if (count) *count = 0;
  EntryList* handed = nullptr;
  guarded([&] {
    OpenedArchive opened = openArchive(archivePath, password, passwordCallback);
    if (opened.archive->entries().size() > INT32_MAX) throw LibraryError(kArchiveUnsupported, "too many entries");
    auto list = makeList(opened.archive->entries());
    lists().add(list.get());
    handed = list.release();
    if (entries) *entries = handed->records.data();
    if (count) *count = static_cast<int32_t>(handed->records.size());
  });
  return handed;
}

__declspec(dllexport) void WINAPI CloseListArchive(HANDLE handle) {
  try {
    auto* list = static_cast<EntryList*>(handle);
    if (list && lists().remove(list)) delete list;
  } catch (...) {
  }
}

__declspec(dllexport) int32_t WINAPI GetLastArchiveError(void) { return tLastError; }

}  // extern "C"
