#include "media/archive_library.h"

#include <cstring>

#include "core/pe.h"
#include "platform/files.h"
#include "platform/libraries.h"
#include "platform/strings.h"

namespace orv {

namespace {

template <typename Fn>
Fn exportOf(HMODULE m, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

// The library asks through callbacks with plain function pointers, so the call's context travels in a
// thread-local slot for the duration of one call.
struct CallContext {
  const std::string* password = nullptr;
  const ArchiveLibrary::Progress* progress = nullptr;
  bool passwordGiven = false;
  int32_t questionAnswer = 4;
};
thread_local CallContext* tCall = nullptr;

int32_t WINAPI passwordCallback(char* buffer) {
  if (!tCall || tCall->passwordGiven || !buffer) return 0;
  const std::string ansi = toCodePage(*tCall->password, CP_ACP);
  const size_t n = std::min<size_t>(ansi.size(), kPasswordBufferSize - 1);
  std::memcpy(buffer, ansi.data(), n);
  buffer[n] = '\0';
  tCall->passwordGiven = true;
  return 1;
}

int32_t WINAPI progressCallback(const char* file, uint32_t doneLow, uint32_t doneHigh, uint32_t totalLow,
                                uint32_t totalHigh) {
  if (!tCall || !tCall->progress || !*tCall->progress) return 1;
  try {
    const uint64_t done = (uint64_t(doneHigh) << 32) | doneLow;
    const uint64_t total = (uint64_t(totalHigh) << 32) | totalLow;
    return (*tCall->progress)(file ? fromCodePage(file, CP_ACP) : std::string(), done, total) ? 1 : 0;
  } catch (...) {
    return 0;  // nothing may cross back into the library
  }
}

int32_t WINAPI ninthCallback(int32_t, int32_t) { return 1; }

int32_t WINAPI questionCallback(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                int32_t) {
  return tCall ? tCall->questionAnswer : 4;  // 4 overwrites
}

// Installs the call's context for one library call and restores the outer one (a callback may start a
// nested call on the same thread).
class ScopedCall {
 public:
  explicit ScopedCall(CallContext& call) : outer_(tCall) { tCall = &call; }
  ~ScopedCall() { tCall = outer_; }
  ScopedCall(const ScopedCall&) = delete;
  ScopedCall& operator=(const ScopedCall&) = delete;

 private:
  CallContext* outer_;
};

}  // namespace

ArchiveLibrary::ArchiveLibrary(const std::string& folder) {
  module_.reset(loadLibraryAt(widen(folder + "orv.lib")));
  if (!module_) return;
  extract_ = exportOf<decltype(extract_)>(module_.get(), "ExtractArchive");
  lastError_ = exportOf<decltype(lastError_)>(module_.get(), "GetLastArchiveError");
  openList_ = exportOf<decltype(openList_)>(module_.get(), "OpenListArchive");
  closeList_ = exportOf<decltype(closeList_)>(module_.get(), "CloseListArchive");
  if (!lastError_) extract_ = nullptr;
}

ArchiveLibrary::Result ArchiveLibrary::extract(const std::string& archivePath, const std::string& targetFolder,
                                               const std::vector<std::string>& names, bool flatten,
                                               const std::string& password, Progress progress,
                                               int32_t questionAnswer) const {
  Result result;
  if (!loaded()) return result;
  std::vector<std::string> ansiNames;
  std::vector<const char*> pointers;
  for (const auto& n : names) ansiNames.push_back(toCodePage(n, CP_ACP));
  for (const auto& n : ansiNames) pointers.push_back(n.c_str());
  const OrvFileSet set{pointers.empty() ? nullptr : pointers.data(), static_cast<int32_t>(pointers.size())};
  CallContext call{&password, &progress, false, questionAnswer};
  int32_t ok = 0;
  {
    ScopedCall scope(call);
    ok = extract_(toCodePage(archivePath, CP_ACP).c_str(), 1, toCodePage(targetFolder, CP_ACP).c_str(), &set,
                  flatten ? 1 : 0, toCodePage(password, CP_ACP).c_str(), passwordCallback, progressCallback,
                  ninthCallback, questionCallback);
  }
  result.ok = ok != 0;
  if (!result.ok) result.error = lastError_();
  return result;
}

ArchiveLibrary::Listing ArchiveLibrary::list(const std::string& archivePath, const std::string& password) const {
  Listing listing;
  if (!loaded() || !openList_ || !closeList_) return listing;
  const Progress none;
  CallContext call{&password, &none, false, 4};
  OrvListEntry* entries = nullptr;
  int32_t count = 0;
  HANDLE handle = nullptr;
  {
    ScopedCall scope(call);
    handle = openList_(toCodePage(archivePath, CP_ACP).c_str(), 0, passwordCallback, 0, 0, 0,
                       toCodePage(password, CP_ACP).c_str(), &entries, &count);
  }
  if (!handle) {
    listing.error = lastError_();
    return listing;
  }
  // The records belong to the library until the handle is closed: copy the paths out first.
  for (int32_t i = 0; entries && i < count; ++i)
    if (entries[i].path) listing.paths.push_back(fromCodePage(entries[i].path, CP_ACP));
  closeList_(handle);
  listing.ok = true;
  return listing;
}

std::string ArchiveLibrary::appendedMessages(const std::string& folder) {
  std::string bytes;
  if (!readWholeFile(folder + "orv.lib", bytes)) return {};
  const auto end = peImageEnd(std::string_view(bytes).substr(0, std::min<size_t>(bytes.size(), 65536)));
  if (!end || *end >= bytes.size()) return {};
  return bytes.substr(static_cast<size_t>(*end));
}

}  // namespace orv
