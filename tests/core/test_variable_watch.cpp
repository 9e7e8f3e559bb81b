// The interpreter rereads its settings only when a watched variable changed; a missed change would
// leave a setting stale, a spurious one only costs time.
#include <gtest/gtest.h>

#include "core/variables.h"

namespace orv {
namespace {

TEST(VariableWatchTest, CountsChangesOfWatchedNamesOnly) {
  VariableStore vars;
  vars.setValue("TITLE", "old");
  vars.watch({"TITLE", "silent"});
  uint64_t seen = vars.watchedChanges();
  auto changed = [&] {
    const uint64_t now = vars.watchedChanges();
    const bool moved = now != seen;
    seen = now;
    return moved;
  };
  vars.setValue("OTHER", "1");
  vars.defineVariable("OTHER", "2", "Set Variable Action");
  vars.remove("OTHER");
  EXPECT_FALSE(changed());
  vars.setValue("title", "new");  // names ignore case
  EXPECT_TRUE(changed());
  vars.setValue("TITLE", "new");  // the same value again is no change
  EXPECT_FALSE(changed());
  vars.defineVariable("SILENT", "TRUE", "Initialization");  // a watched name written for the first time
  EXPECT_TRUE(changed());
  vars.remove("Silent");
  EXPECT_TRUE(changed());
  vars.setValue("SILENT", "FALSE");  // and written again after its removal
  EXPECT_TRUE(changed());
  vars.loadVariables("TITLE,x");
  EXPECT_TRUE(changed());
  vars.clear();
  EXPECT_TRUE(changed());
}

}  // namespace
}  // namespace orv
