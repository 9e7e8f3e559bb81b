#include "bootstrap/engine_cache.h"

#include "bootstrap/engine.h"
#include "core/text.h"
#include "engines/maintenance.h"
#include "engines/maintenance_files.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace orv {
namespace {

// Caching mode 2 without "#CACHESOURCES#": the sources copied into the cache go, the web media folder
// "OFFLINE" stays for the next maintenance run.
void removeCachedSources(const std::string& folder) {
  for (const FolderEntry& entry : folderEntries(folder + "*"))
    if (entry.isFolder() && !equalsNoCase(entry.name, "OFFLINE")) deleteTree(folder + entry.name);
}

bool keepsCachedSources(const Engine& e) {
  if (!e.index) return true;
  return upper(expandCompilerConstants("#CACHESOURCES#", e.index->compilerConstants())) != "FALSE";
}

}  // namespace

void finishEngineCache(Engine& engine) {
  if (!engine.maintenance) return;  // the bootstrap never ran: there is no instance to look after
  try {
    MaintenanceState& st = *engine.maintenance;
    const std::string folder = currentCacheFolder(engine);
    if (engine.image.cachingMode == 2 && !keepsCachedSources(engine)) removeCachedSources(folder);
    if (st.removed || !folderExists(folder)) return;
    hideFolder(folder);
    applyCacheCompression(engine, folder);
    if (engine.persistentVariables.empty()) return;
    const std::string data = folder + instanceBaseName(engine) + ".dat";
    writeInstanceData(engine, data, st.registered, st.registeredDataFolder);
  } catch (const std::exception& failure) {  // the run is over; its exit code stands
    maintenanceTrace(engine, std::string("      <EngineCache>") + failure.what() + "</EngineCache>");
  }
}

}  // namespace orv
