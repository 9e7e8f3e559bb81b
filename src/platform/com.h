// COM for the engine: interface pointers that release themselves, and COM for a thread while a scope
// lives.
#pragma once
#include <objbase.h>

#include <memory>

namespace orv {

struct ComReleaser {
  void operator()(IUnknown* p) const {
    if (p) p->Release();
  }
};
template <typename T>
using ComPtr = std::unique_ptr<T, ComReleaser>;

// COM (single-threaded apartment) for the calling thread while it lives; harmless when the thread has
// COM already.
class ComScope {
 public:
  ComScope() : started_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComScope() {
    if (started_) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool started_;
};

}  // namespace orv
