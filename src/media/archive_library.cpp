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
  return 4;  // overwrite
}

}  // namespace

ArchiveLibrary::ArchiveLibrary(const std::string& folder) {
  module_.reset(loadLibraryAt(widen(folder + "orv.lib")));
  if (!module_) return;
  extract_ = exportOf<decltype(extract_)>(module_.get(), "ExtractArchive");
  lastError_ = exportOf<decltype(lastError_)>(module_.get(), "GetLastArchiveError");
  if (!lastError_) extract_ = nullptr;
}

ArchiveLibrary::Result ArchiveLibrary::extract(const std::string& archivePath, const std::string& targetFolder,
                                               const std::vector<std::string>& names, bool flatten,
                                               const std::string& password, Progress progress) const {
  Result result;
  if (!loaded()) return result;
  std::vector<std::string> ansiNames;
  std::vector<const char*> pointers;
  for (const auto& n : names) ansiNames.push_back(toCodePage(n, CP_ACP));
  for (const auto& n : ansiNames) pointers.push_back(n.c_str());
  const OrvFileSet set{pointers.empty() ? nullptr : pointers.data(), static_cast<int32_t>(pointers.size())};
  CallContext call{&password, &progress, false};
  CallContext* outer = tCall;
  tCall = &call;
  const int32_t ok = extract_(toCodePage(archivePath, CP_ACP).c_str(), 1, toCodePage(targetFolder, CP_ACP).c_str(),
                              &set, flatten ? 1 : 0, toCodePage(password, CP_ACP).c_str(), passwordCallback,
                              progressCallback, ninthCallback, questionCallback);
  tCall = outer;
  result.ok = ok != 0;
  if (!result.ok) result.error = lastError_();
  return result;
}

std::string ArchiveLibrary::appendedMessages(const std::string& folder) {
  std::string bytes;
  if (!readWholeFile(folder + "orv.lib", bytes)) return {};
  const auto end = peImageEnd(std::string_view(bytes).substr(0, std::min<size_t>(bytes.size(), 65536)));
  if (!end || *end >= bytes.size()) return {};
  return bytes.substr(static_cast<size_t>(*end));
}

}  // namespace orv
