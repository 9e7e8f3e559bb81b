// A run as a whole: the phase trace of the script, the script-error message, the command-line values
// in silent runs, the single-instance marker and the ending after the setup's medium was removed.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "e2e/script_run.h"
#include "platform/files.h"

namespace orv::test {
namespace {

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::vector<std::string> between(const std::vector<std::string>& lines, const std::string& from, const std::string& to) {
  auto a = std::find(lines.begin(), lines.end(), from);
  auto b = std::find(a, lines.end(), to);
  return b == lines.end() ? std::vector<std::string>{} : std::vector<std::string>(a, b + 1);
}

struct TracedRun {
  SetupFolder setup;
  std::string temp = freshFolder("temp");
  RunResult result;
};

TracedRun runTraced(const ScriptLines& lines, const std::string& arguments = "/s",
                    const std::vector<std::string>& constants = {}) {
  SetupImage image = scriptImage(lines);
  image.compilerVariables = constants;
  TracedRun t{buildSetup(image)};
  const std::string trace = t.setup.folder + "trace.log";
  t.result = runSetup(t.setup, arguments + " /l=" + trace, {.tempFolder = t.temp, .tracePath = trace});
  return t;
}

// A condition on versions whose middle component is not a number cannot be evaluated.
const std::vector<std::string> kFailingLine = {"If", "VERSION", "6", "1.x.3", "FALSE"};

TEST(ScriptRun, TracesTheScriptPhases) {
  const TracedRun t = runTraced({{"Set Variable", "X", "1"}});
  EXPECT_EQ(t.result.exitCode, 0u);
  EXPECT_EQ(between(t.result.trace, "  <RunScript>", "  </RunScript>"),
            (std::vector<std::string>{"  <RunScript>", "    <Variables>", "    </Variables>", "    <CompileScript>",
                                      "    </CompileScript>", "    <BootStrap>", "    </BootStrap>", "    <zorn>",
                                      "    </zorn>", "    <ExitScript>", "    </ExitScript>", "  </RunScript>"}));
}

TEST(ScriptRun, AScriptErrorEndsTheRunWithoutTheNormalEndMarkers) {
  const TracedRun t = runTraced({{"Set Variable", "X", "1"}, kFailingLine, {"End"}, {"Terminate with Exit Code", "5"}});
  EXPECT_EQ(t.result.exitCode, 0u);  // unchanged
  EXPECT_TRUE(contains(t.result.trace, "    <zorn>"));
  EXPECT_FALSE(contains(t.result.trace, "    </zorn>"));
  EXPECT_FALSE(contains(t.result.trace, "    <ExitScript>"));
  EXPECT_EQ(t.result.trace.back(), "</Orvane>");
  EXPECT_FALSE(folderExists(t.temp + "orv1"));
}

TEST(ScriptRun, TheScriptErrorMessageNamesTheSourceLine) {
  SetupImage image = scriptImage({{"Set Variable", "TITLE", "Broken Product"}, {"Comment"}, kFailingLine, {"End"}});
  image.sourcePositions[2] = "C:\\project\\main.orv*41";
  const SetupFolder setup = buildSetup(image);
  auto run = std::async(std::launch::async, [&] { return runSetup(setup, ""); });
  const std::string text = dismissMessageBox("Broken Product - Orvane Wizard", 30000);
  EXPECT_EQ(run.get().exitCode, 0u);
  EXPECT_EQ(text.rfind("Runtime error in setup script:", 0), 0u) << text;
  const std::string position = "\r\rSource File: C:\\project\\main.orv\rLine Number: 42\r\r";
  const size_t at = text.find(position);
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_GT(text.size(), at + position.size()) << "the reason comes last";
}

TEST(ScriptRun, CommandLineValuesWinOnlyInSilentRuns) {
  const ScriptLines lines = {{"Set Variable", "TARGETDIR", "C:\\Script"},
                             {"If", "TARGETDIR", "0", "D:\\App", "FALSE"},
                             {"Terminate with Exit Code", "1"},
                             {"End"},
                             {"Terminate with Exit Code", "2"}};
  EXPECT_EQ(runLines(lines, "/s TARGETDIR=D:\\App").exitCode, 1u);
  EXPECT_EQ(runLines(lines, "-QN TARGETDIR=D:\\App").exitCode, 1u);
  EXPECT_EQ(runLines(lines, "TARGETDIR=D:\\App").exitCode, 2u);
  EXPECT_EQ(runLines(lines, "/s TARGETDIR=D:\\App SILENT=FALSE").exitCode, 2u);
}

TEST(ScriptRun, ASingleInstanceSetupRefusesASecondRun) {
  const std::vector<std::string> single = {"SINGLEINSTANCE", "TRUE"};
  const ScriptLines lines = {{"Terminate with Exit Code", "5"}};
  TracedRun first = runTraced(lines, "/s", single);
  EXPECT_EQ(first.result.exitCode, 5u);
  const std::string marker = first.temp + scriptImage({}).revisionCode + ".orv";
  EXPECT_FALSE(fileExists(marker));  // removed at the end of the run

  const SetupFolder setup = buildSetup([&] {
    SetupImage image = scriptImage(lines);
    image.compilerVariables = single;
    return image;
  }());
  const std::string temp = freshFolder("temp");
  const std::string held = temp + scriptImage({}).revisionCode + ".orv";
  ASSERT_TRUE(writeWholeFile(held, ""));
  const std::string trace = setup.folder + "trace.log";
  const RunResult second = runSetup(setup, "/s /l=" + trace, {.tempFolder = temp, .tracePath = trace});
  EXPECT_EQ(second.exitCode, 0u);
  EXPECT_FALSE(contains(second.trace, "    <zorn>"));
  EXPECT_TRUE(fileExists(held));
  EXPECT_FALSE(folderExists(temp + "orv1"));
}

TEST(ScriptRun, ARemovedMediumEndsTheRunInTheInterpreter) {
  const TracedRun t = runTraced({{"Set Variable", "EXEDIR", "Q:\\gone\\"}, {"Terminate with Exit Code", "7"}});
  EXPECT_EQ(t.result.exitCode, 7u);
  const std::vector<std::string> ending = {
      "    </ExitScript>", "  </RunScript>", "  <Free>", "  </Free>", "  <CachedSupportDir>", "  </CachedSupportDir>",
      "  <RemovableMediaPrematureEject>", "  </RemovableMediaPrematureEject>", "</Orvane>"};
  ASSERT_GE(t.result.trace.size(), ending.size());
  EXPECT_EQ(std::vector<std::string>(t.result.trace.end() - ending.size(), t.result.trace.end()), ending);
  EXPECT_FALSE(folderExists(t.temp + "orv1"));
}

TEST(ScriptRun, TheTraceFollowsLogged) {
  const std::string folder = freshFolder("log");
  const std::string moved = folder + "moved.log";
  const TracedRun t = runTraced({{"Set Variable", "LOGGED", moved}, {"Comment"}});
  EXPECT_EQ(t.result.exitCode, 0u);
  EXPECT_FALSE(contains(t.result.trace, "    </zorn>"));
  const std::vector<std::string> rest = readTrace(moved);
  ASSERT_FALSE(rest.empty());
  EXPECT_EQ(rest.front(), "    </zorn>");
  EXPECT_EQ(rest.back(), "</Orvane>");
}

}  // namespace
}  // namespace orv::test
