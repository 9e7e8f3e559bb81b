// The image reader and its keyed lookups over arbitrary bytes: every input either loads or is refused
// with ImageError.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const orv::SetupImage img = orv::readImage(std::string_view(reinterpret_cast<const char*>(data), size));
    const orv::ImageIndex index(img);
    for (size_t i = 0; i < img.lineCount() && i < 64; ++i) {
      (void)index.parameterOfLine(i, 1);
      (void)index.isDisabled(i);
      (void)index.headerFiles(index.headerOfLine(i));
    }
    (void)index.mediaPassword("OFFLINE");
    (void)orv::writeImage(img);  // may refuse texts it cannot carry, never crash
  } catch (const orv::ImageError&) {
  }
  return 0;
}
