// Page designs over arbitrary bytes: every input is read or refused with DesignError. What is read is
// written back byte for byte, and its text form reads back to the same text. The bytes are also tried
// as a text page, whose text form must be stable too.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/design/design.h"

namespace {

using namespace orv::design;

constexpr unsigned kCodePage = 1252;

void require(bool condition) {
  if (!condition) __builtin_trap();
}

// A tree's text form, read again, gives the same text and a writable tree.
void checkTextIsStable(const Object& root) {
  std::string text;
  try {
    text = writeText(root);
  } catch (const DesignError&) {
    return;  // names the text form cannot carry
  }
  const Object again = readText(text, kCodePage);  // must not throw: it is our own text
  require(writeText(again) == text);
  (void)writeBinary(Document{std::nullopt, again, {}}, kCodePage);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    const Document doc = readBinary(bytes, kCodePage);
    require(writeBinary(doc, kCodePage) == bytes);
    checkTextIsStable(doc.root);
  } catch (const DesignError&) {
  }
  try {
    checkTextIsStable(readText(bytes, kCodePage));
  } catch (const DesignError&) {
  }
  return 0;
}
