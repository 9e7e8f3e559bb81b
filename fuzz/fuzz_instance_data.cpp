// The instance data reader over arbitrary bytes: every input either loads or is refused with
// InstanceDataError; what loads writes back in full and in the update form and reads again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/instance_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = orv::decodeInstanceFile(std::string_view(reinterpret_cast<const char*>(data), size), 1252);
  (void)orv::parseInstanceIdentity(text);
  (void)orv::parseLines(text);
  try {
    const orv::InstanceData loaded = orv::parseInstanceData(text);
    orv::ComponentLists lists;
    lists.define("ZORN-PREDEF-COMPONENT", "", true);
    for (auto mode : {orv::InstanceLoadMode::Full, orv::InstanceLoadMode::OldData, orv::InstanceLoadMode::Update})
      orv::mergeComponents(lists, loaded, mode);
    (void)lists.selectedSize();
    (void)orv::parseInstanceData(orv::updatedInstanceData(text, loaded.variables, "x64", "", "TRUE"));
    (void)orv::parseInstanceData(orv::formatInstanceData(loaded));
  } catch (const orv::InstanceDataError&) {
  }
  return 0;
}
