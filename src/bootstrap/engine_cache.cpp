#include "bootstrap/engine_cache.h"

#include "bootstrap/engine.h"

namespace orv {

void finishEngineCache(Engine&) {}

}  // namespace orv
