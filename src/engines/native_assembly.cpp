// "Install Assembly" and "Remove Assembly": the global assembly cache through the framework's Fusion
// library. The framework is found from its InstallRoot and policy keys; without it every operation fails
// (Wine has none, so tests put a stand-in into the native state).
#include <windows.h>
#include <fusion.h>

#include <memory>

#include "bootstrap/engine.h"
#include "core/text.h"
#include "engines/native_kinds.h"
#include "engines/native_state.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace orv {
namespace {

// FUSION_REFCOUNT_OPAQUE_STRING_GUID: the install reference scheme of an opaque identifier.
constexpr GUID kOpaqueStringScheme = {0x2ec93463, 0xb0c3, 0x45e1, {0x83, 0x64, 0x32, 0x7e, 0x96, 0xae, 0xa8, 0x56}};
constexpr wchar_t kReferenceData[] = L"Orvane";

std::string field(const Fields& f, size_t i) { return i < f.size() ? f[i] : std::string(); }

std::string frameworkFolder() {
  const auto key = RegistryKey::open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\.NETFramework");
  if (!key) return {};
  const std::string root = key->getString("InstallRoot").value_or("");
  if (root.empty()) return {};
  const std::pair<const char*, const char*> versions[] = {
      {"v4.0", "v4.0.30319"}, {"v2.0", "v2.0.50727"}, {"v1.1", "v1.1.4322"}};
  for (const auto& [policy, folder] : versions)
    if (RegistryKey::exists(HKEY_LOCAL_MACHINE, std::string("SOFTWARE\\Microsoft\\.NETFramework\\Policy\\") + policy))
      return withTrailingBackslash(root) + folder + "\\";
  return {};
}

class FusionAssemblyCache final : public AssemblyCache {
 public:
  explicit FusionAssemblyCache(std::string productCode) : productCode_(widen(productCode)) {
    static const std::string folder = frameworkFolder();
    if (folder.empty()) return;
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    library_.reset(LoadLibraryExW(widen(folder + "fusion.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    SetErrorMode(previous);
    if (!library_) return;
    using CreateFn = HRESULT(WINAPI*)(IAssemblyCache**, DWORD);
    const auto create = reinterpret_cast<CreateFn>(
        reinterpret_cast<void*>(GetProcAddress(library_.get(), "CreateAssemblyCache")));
    IAssemblyCache* cache = nullptr;
    if (create && SUCCEEDED(create(&cache, 0))) cache_ = cache;
  }
  ~FusionAssemblyCache() override {
    if (cache_) cache_->Release();
  }

  bool install(const std::string& path, bool forceRefresh) override {
    if (!cache_) return false;
    const FUSION_INSTALL_REFERENCE reference = referenceData();
    const DWORD flags = forceRefresh ? IASSEMBLYCACHE_INSTALL_FLAG_FORCE_REFRESH : IASSEMBLYCACHE_INSTALL_FLAG_REFRESH;
    return SUCCEEDED(cache_->InstallAssembly(flags, widen(path).c_str(), &reference));
  }
  bool uninstall(const std::string& displayName) override {
    if (!cache_) return false;
    const FUSION_INSTALL_REFERENCE reference = referenceData();
    ULONG disposition = 0;
    return SUCCEEDED(cache_->UninstallAssembly(0, widen(displayName).c_str(), &reference, &disposition));
  }

 private:
  FUSION_INSTALL_REFERENCE referenceData() const {
    FUSION_INSTALL_REFERENCE r{};
    r.cbSize = sizeof(r);
    r.dwFlags = 0;
    r.guidScheme = kOpaqueStringScheme;
    r.szIdentifier = productCode_.c_str();
    r.szNonCannonicalData = kReferenceData;
    return r;
  }

  std::wstring productCode_;
  UniqueModule library_;
  IAssemblyCache* cache_ = nullptr;
};

// The engine's cache object is made (and kept) on the UI thread, which owns the engine's state.
AssemblyCache& cacheOf(NativeJob& job) {
  AssemblyCache* cache = nullptr;
  job.onMainThread([&] { cache = &assemblyCache(job.engine()); });
  return *cache;
}

}  // namespace

std::shared_ptr<AssemblyCache> systemAssemblyCache(Engine& engine) {
  return std::make_shared<FusionAssemblyCache>(engine.vars.getValue("PRODUCTCODE"));
}

bool installAssemblyKind(NativeJob& job, const Fields& f) {
  const std::string header = field(f, 0), folder = withTrailingBackslash(field(f, 1));
  const bool toGlobalCache = isTrueText(field(f, 2));
  job.byteProgress = true;
  const std::string sources = sourceFolderOf(job.engine());
  for (const auto& [sourcePath, displayName] : headerFileGroup(job, header)) {
    const std::string source = sources + sourcePath, name = fileNameOf(sourcePath);
    if (!toGlobalCache) {
      if (placeFile(job, source, folder + name) == Placement::Failed) return false;
      continue;
    }
    const int64_t size = fileSize(job.fsPath(source));
    if (!job.stepProgress("GAC: " + name, size > 0 ? size : 0)) return false;
    const bool force = isTrueText(job.vars().getValue("NATIVE_OVERWRITE_OLDER"));
    AssemblyCache& cache = cacheOf(job);
    for (;;) {
      if (cache.install(job.fsPath(source), force)) {
        job.recordUndo("Install Assembly", displayName);
        job.trace("        < GAC: " + name + " >");
        break;
      }
      const NativeJob::ErrorDecision d =
          job.decideOnError("Unable to install the assembly into the global assembly cache\r\r" + source, -1);
      if (d.abort) return false;
      if (!d.retry || !job.stepProgress("$IGNORE$", 0)) break;
    }
  }
  return true;
}

bool removeAssemblyInverse(NativeJob& job, const Fields& f, int64_t weight) {
  const std::string entry = field(f, 0);
  if (!entry.empty() && cacheOf(job).uninstall(entry)) job.trace("        < GAC: " + entry + " >");
  return job.stepProgress("GAC: " + entry, weight) && !job.aborted();
}

}  // namespace orv
