// The engine cache of an installed product: the cached engine copy, instance data and maintenance
// registration. Its end-of-run work runs after every script run, also when the script ended by an
// exception.
#pragma once

namespace orv {

struct Engine;

// Hides and compresses the cache folder, writes the instance data, cleans cached sources. Nothing to do
// until the product has been registered in this run or an earlier one.
void finishEngineCache(Engine& engine);

}  // namespace orv
