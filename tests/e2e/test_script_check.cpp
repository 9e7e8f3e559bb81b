// A script the start-up check rejects ends the setup at once with exit code 314: no message, no
// script line run, no clean-up (the support folder stays).
#include <gtest/gtest.h>

#include <future>

#include "core/script_rejections.h"
#include "e2e/script_run.h"
#include "platform/files.h"

namespace orv::test {
namespace {

TEST(ScriptCheckRun, EveryKindOfErrorEndsWith314) {
  for (const RejectCase& c : scriptRejections()) {
    SCOPED_TRACE(c.name);
    ScriptLines lines = c.lines;
    lines.push_back({"Terminate with Exit Code", "5"});  // never reached
    EXPECT_EQ(runLines(lines).exitCode, 314u);
  }
}

TEST(ScriptCheckRun, RejectionShowsNothingAndLeavesTheSupportFolder) {
  const SetupFolder setup = buildSetup(scriptImage({{"Break"}}));
  const std::string temp = freshFolder("temp");
  const std::string trace = setup.folder + "trace.log";
  auto run = std::async(std::launch::async, [&] {
    return runSetup(setup, "/l=" + trace, {.tempFolder = temp, .tracePath = trace});
  });
  EXPECT_EQ(dismissMessageBox("Orvane Wizard", 3000), "");
  const RunResult r = run.get();
  EXPECT_EQ(r.exitCode, 314u);
  ASSERT_FALSE(r.trace.empty());
  EXPECT_EQ(r.trace.back(), "    <CompileScript>");
  EXPECT_TRUE(folderExists(temp + "orv1"));
}

}  // namespace
}  // namespace orv::test
