// The engine cache location in real runs: a cache override given on the command line.
#include <gtest/gtest.h>

#include "e2e/script_run.h"
#include "platform/files.h"

namespace orv::test {
namespace {

constexpr const char* kRevision = "{6F1C2A10-0000-4000-8000-000000000002}";

std::vector<std::string> when(const char* variable, const std::string& value) { return {"If", variable, "0", value, "FALSE"}; }

TEST(MaintenanceRun, ACacheOverrideOnTheCommandLineIsTheCacheRoot) {
  const std::string cache = freshFolder("override") + "cache\\deeper";
  const RunResult r = runLines(
      trailScript({when("OVERRIDECACHE", cache + "\\"), mark(1), {"End"},
                   when("ENGINECACHE", cache + "\\" + kRevision + "\\"), mark(2), {"End"},
                   when("UNINSTALLLINK", cache + "\\" + kRevision + "\\setup.exe"), mark(3), {"End"},
                   when("MAINTENANCE", "FALSE"), mark(4), {"End"}}),
      "/s OVERRIDECACHE=" + cache);
  EXPECT_EQ(r.exitCode, 91234u);
  EXPECT_FALSE(folderExists(cache)) << "the folders made to prove the override go again";
}

TEST(MaintenanceRun, AnOverrideThatCannotBeCreatedIsDropped) {
  const RunResult r = runLines(trailScript({when("OVERRIDECACHE", ""), mark(1), {"End"}}),
                               "/s OVERRIDECACHE=Q:\\bad|name?");
  EXPECT_EQ(r.exitCode, 91u);
}

}  // namespace
}  // namespace orv::test
