// The interpreter run in-process: the variable store after the run shows the prologue, the per-line
// refresh, the command-line protection and the wizard navigation driven by scripted page answers.
#include <gtest/gtest.h>

#include <windows.h>

#include <deque>

#include "../core/script_image.h"
#include "bootstrap/engine.h"
#include "bootstrap/trace.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "platform/system.h"
#include "script/command.h"
#include "script/interpreter.h"

namespace orv {
namespace {

using Lines = std::vector<std::vector<std::string>>;

class ScriptRun {
 public:
  explicit ScriptRun(const Lines& lines) {
    engine.trace = &trace;
    StartupState& s = engine.startup;
    s.tempFolder = tempFolder();
    s.programFolder = s.tempFolder;  // a fixed disk that exists: no removed-medium ending
    s.programPath = s.programFolder + "setup.exe";
    s.supportFolder = s.tempFolder + "orv-interpreter-test\\";
    s.silent = true;
    engine.msiPath = s.supportFolder + "setup.msi";
    engine.loadImage(test::scriptLines(lines));
  }

  ScriptRun& run() {
    runScript(engine);
    return *this;
  }
  std::string var(const char* name) const { return engine.vars.getValue(name); }
  bool has(const char* name) const { return engine.vars.exists(name); }

  Engine engine;
  Trace trace;
};

TEST(InterpreterTest, DefinesThePredefinedVariablesInOrder) {
  ScriptRun r({});
  r.engine.startup.rawCommandLine = "/s /m=c:\\dl\\pack.exe";
  r.engine.startup.selfExtractorPath = "c:\\dl\\pack.exe";
  r.run();
  std::vector<std::string> lines;
  r.engine.vars.getAll(lines);
  std::vector<std::string> names;
  for (size_t i = 0; i < lines.size(); i += 2) names.push_back(lines[i]);
  const std::vector<std::string> expected = {
      "ZORN_thProgress", "ZORN_thMin", "ZORN_thMax", "ZORN_thProgressText", "ZORN_thFinished", "ZORN_thCancelled",
      "ZORN_IsCancelled", "ZORN_LastDelegateTick", "ZORN_LastActiveTick", "TARGETDIR", "STARTMENU", "ALLUSERS",
      "PRODUCTCODE", "REVISIONCODE", "UNINSTALLLINK", "ENGINECACHE", "DATADIR", "NEEDSUPGRADE", "MAINTENANCE",
      "NATIVE_OLDLOG", "RECOMMENDEDUPGRADE", "NEWINSTANCE", "ZORN_TIMEOUT", "ZORN_COMPRESS_INSTALLER_CACHE", "ZORN_DISABLE_ROLLBACK", "ZORN_DISABLE_VISTA_RESTART_MANAGER",
      "CHARSET_OVERRIDE", "NATIVE_ENGINE", "NATIVE_LOGGING", "NATIVE_ROLLBACK", "NATIVE_ERROR", "NATIVE_OVERWRITE",
      "NATIVE_OVERWRITE_OLDER", "DELAYUNTIL_APPLYCHANGES", "NATIVE_OVERRIDE_PERMISSIONS",
      "NATIVE_OVERRIDE_NON_RESTORABLE_PERMISSIONS", "NATIVE_PROGRESS", "IISHOST", "OVERRIDECACHE", "ZORNLOGO",
      "SELECTED", "WINDOWHANDLE", "EXEFILE", "EXEDIR", "PROGRESSTEXT", "PROGRESSMODE",
      "CUSTOM_TASKBAR_PROGRESS_ENABLED", "CUSTOM_TASKBAR_PROGRESS_PERCENT", "CUSTOM_TASKBAR_PROGRESS_MAX", "ABORT",
      "PROGRESS", "LASTERROR", "LICENSE", "USERNAME", "USERCOMPANY", "COPYWEBLOCK", "REBOOTCOMPUTER", "RUNAPP",
      "WIZARD", "VERSION", "SILENT", "LOGGED", "CMDLINE", "REBOOTNOW", "SFXPATH", "SFXFILE", "GPOPATH", "SETUPPATH",
      "COMPLETE", "MODIFY", "NEWLINE", "MINIMUM", "PERSONALIZED", "GLASS", "REPAIR", "REMOVE", "ADVERTISE", "ROOTDIR",
      "TITLE", "COMPANY", "DATE", "TIME", "TEMPDIR", "ABORTONERROR", "ABORTEDONERROR", "SAVEDATA", "SUPPORTDIR",
      "MSIFILE", "LANGUAGE"};
  EXPECT_EQ(names, expected);

  const StartupState& s = r.engine.startup;
  const std::pair<const char*, std::string> values[] = {
      {"ZORN_thMax", "100"},      {"STARTMENU", "Test Product"}, {"NATIVE_ENGINE", "FALSE"},
      {"NATIVE_ERROR", "PROMPT"}, {"WIZARD", "NEXT"},            {"SILENT", "TRUE"},
      {"REBOOTNOW", "OK"},        {"NEWLINE", "\r\n"},           {"SFXPATH", "c:\\dl\\"},
      {"SFXFILE", "pack.exe"},    {"SETUPPATH", "$SFXPATH$"},    {"EXEDIR", s.programFolder},
      {"EXEFILE", s.programPath}, {"ROOTDIR", s.programFolder},  {"TEMPDIR", s.tempFolder},
      {"SUPPORTDIR", s.supportFolder}, {"MSIFILE", r.engine.msiPath}, {"TITLE", "Test Product"},
      {"CMDLINE", s.rawCommandLine}, {"ABORTONERROR", "TRUE"},   {"IISHOST", "localhost"},
      {"ALLUSERS", "TRUE"},  // Wine runs everything as an administrator
  };
  for (const auto& [name, value] : values) EXPECT_EQ(r.var(name), value) << name;
  EXPECT_FALSE(r.var("DATE").empty());
  EXPECT_FALSE(r.var("TIME").empty());
}

TEST(InterpreterTest, CommandLineValuesAreProtectedInSilentRuns) {
  struct Case {
    const char* name;
    bool silent;
    std::vector<std::pair<std::string, std::string>> assignments;
    const char* expectedX;
    const char* expectedTarget;
  };
  const Case cases[] = {
      {"silent: the command line wins", true, {{"X", "1"}}, "1", "D:\\App"},
      {"not silent: the script wins", false, {{"X", "1"}}, "2", "C:\\Script"},
      {"SILENT=FALSE lifts the protection", true, {{"X", "1"}, {"SILENT", "FALSE"}}, "2", "C:\\Script"},
      {"later assignments overwrite earlier ones", true, {{"X", "1"}, {"X", "3"}}, "3", "D:\\App"},
      {"a value naming the variable itself is empty", true, {{"X", "$x$"}}, "", "D:\\App"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptRun r({{"Set Variable", "X", "2"}, {"Set Variable", "TARGETDIR", "C:\\Script"}});
    r.engine.startup.silent = c.silent;
    r.engine.startup.assignments = c.assignments;
    r.engine.startup.assignments.push_back({"TARGETDIR", "D:\\App"});
    r.run();
    EXPECT_EQ(r.var("X"), c.expectedX);
    EXPECT_EQ(r.var("TARGETDIR"), c.expectedTarget);
  }
}

TEST(InterpreterTest, EngineSettingsFollowTheirVariablesBeforeTheNextLine) {
  const std::string log = tempFolder() + "orv-interpreter-refresh.log";
  DeleteFileW(widen(log).c_str());
  ScriptRun r({{"Set Variable", "TITLE", "Other Product"},
               {"Set Variable", "CAPTION1", "x"},
               {"Set Variable", "ZORNLOGO", "true"},
               {"Set Variable", "DATE", "not a date"},
               {"Set Variable", "SEENDATE", "$DATE$"},
               {"Set Variable", "ZORN_IsCancelled", "TRUE"},
               {"Set Variable", "SEENABORT", "$ABORT$"},
               {"Set Variable", "LOGGED", log},
               {"Set Variable", "SILENT", "FALSE"},
               {"Comment"}});
  r.run();
  EXPECT_EQ(r.engine.captionTitle, "Other Product");
  EXPECT_TRUE(r.engine.logoOff);
  EXPECT_EQ(r.engine.caption(), "Other Product");
  EXPECT_NE(r.var("SEENDATE"), "not a date");
  EXPECT_FALSE(r.var("SEENDATE").empty());
  EXPECT_EQ(r.var("SEENABORT"), "TRUE");
  EXPECT_EQ(r.trace.path(), log);
  EXPECT_FALSE(r.engine.startup.silent);
  EXPECT_FALSE(r.engine.vars.silent());
  EXPECT_TRUE(fileExists(log));  // the end-of-run markers went to the new log
}

TEST(InterpreterTest, MarksInstallingLinesThatRan) {
  ScriptRun r({{"Create Folder", "C:\\x"}, {"If", "SILENT", "0", "FALSE", "FALSE"}, {"Create Folder", "C:\\y"},
               {"End"}, {"Set Variable", "X", "1"}});
  r.run();
  EXPECT_EQ(lineActionStates(r.engine), (std::vector<std::string>{"TRUE", "SKIP", "FALSE", "SKIP", "SKIP"}));
}

// Pages answer from a list; the run records which pages were shown.
struct ScriptedPages {
  std::deque<DialogAnswer> answers;
  std::vector<std::string> shown;
  DialogAnswer operator()(const CommandContext& line, bool modal) {
    shown.emplace_back(line.param(1));
    EXPECT_TRUE(modal);
    if (answers.empty()) return {DialogResult::Next, {}};
    DialogAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
};

std::vector<std::string> page(const char* name) { return {"Display Dialog", name, "WIZARD", "FALSE", "", "TRUE", "FALSE"}; }

TEST(InterpreterTest, WizardLoopNavigation) {
  const DialogAnswer next{DialogResult::Next, {}}, back{DialogResult::Back, {}}, cancel{DialogResult::Cancel, {}},
      custom{DialogResult::Custom, "btnHelp"};
  struct Case {
    const char* name;
    std::deque<DialogAnswer> answers;
    std::vector<std::string> shown;
    const char* wizard;
  };
  const Case cases[] = {
      {"Next through all pages", {next, next, next}, {"a", "b", "c"}, "NEXT"},
      {"Back on the first page leaves", {back}, {"a"}, "BACK"},
      {"Back and forth", {next, back, next, next, next}, {"a", "b", "a", "b", "c"}, "NEXT"},
      {"Cancel leaves at once", {next, cancel}, {"a", "b"}, "CANCEL"},
      {"another result keeps the direction", {next, custom, back, back, back}, {"a", "b", "c", "b", "a"}, "BACK"},
      {"Back after Cancel is not asked", {cancel, back}, {"a"}, "CANCEL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptRun r({{"Set Variable", "AFTER", "0"},
                 {"Wizard Loop"},
                 page("a"),
                 {"Comment"},
                 {"//Display Dialog", "off", "WIZARD", "TRUE", "", "TRUE", "FALSE"},
                 {"Ignore"},
                 page("b"),
                 page("c"),
                 {"End"},
                 {"Set Variable", "AFTER", "1"}});
    auto pages = std::make_shared<ScriptedPages>();
    pages->answers = c.answers;
    r.engine.showDialog = [pages](const CommandContext& line, bool modal) { return (*pages)(line, modal); };
    r.run();
    EXPECT_EQ(pages->shown, c.shown);
    EXPECT_EQ(r.var("WIZARD"), c.wizard);
    EXPECT_EQ(r.var("AFTER"), "1");
  }
}

TEST(InterpreterTest, PagesLeftOutByTheirConditionKeepTheDirection) {
  // Going back from "c" passes the left-out "b" and reaches "a".
  ScriptRun r({{"Set Variable", "SKIPB", "TRUE"},
               {"Wizard Loop"},
               page("a"),
               {"Display Dialog", "b", "WIZARD", "TRUE", "SKIPB", "TRUE", "TRUE"},
               page("c"),
               {"End"}});
  auto pages = std::make_shared<ScriptedPages>();
  pages->answers = {{DialogResult::Next, {}}, {DialogResult::Back, {}}, {DialogResult::Next, {}}, {DialogResult::Next, {}}};
  r.engine.showDialog = [pages](const CommandContext& line, bool modal) { return (*pages)(line, modal); };
  r.run();
  EXPECT_EQ(pages->shown, (std::vector<std::string>{"a", "c", "a", "c"}));
}

TEST(InterpreterTest, ModelessPagesOutsideWizardLoops) {
  ScriptRun r({{"Display Dialog", "progress", "RESULT", "FALSE", "", "TRUE", "FALSE"}});
  bool wasModal = true;
  r.engine.showDialog = [&](const CommandContext&, bool modal) {
    wasModal = modal;
    return DialogAnswer{DialogResult::NotModal, {}};
  };
  r.run();
  EXPECT_FALSE(wasModal);
  EXPECT_EQ(r.var("RESULT"), "NOTMODAL");
  EXPECT_EQ(r.var("WINDOWHANDLE"), "0");
}

TEST(InterpreterTest, AScriptErrorEndsTheRunAndRunsTheCleanup) {
  ScriptRun r({{"Set Variable", "BEFORE", "1"},
               {"Display Dialog", "failing", "WIZARD", "TRUE", "", "TRUE", "FALSE"},
               {"Set Variable", "AFTER", "1"}});
  int cleanups = 0;
  r.engine.showDialog = [&](const CommandContext& line, bool) -> DialogAnswer {
    atEndOfRun(line.engine(), [&](Engine&) { ++cleanups; });
    throw ScriptError("the page cannot be shown");
  };
  r.engine.exitCode = 7;
  r.run();
  EXPECT_EQ(r.var("BEFORE"), "1");
  EXPECT_FALSE(r.has("AFTER"));
  EXPECT_EQ(cleanups, 1);
  EXPECT_EQ(r.engine.exitCode, 7);  // unchanged
}

TEST(InterpreterTest, AHandlerCanEndTheRun) {
  ScriptRun r({{"Display Dialog", "last", "WIZARD", "TRUE", "", "TRUE", "FALSE"}, {"Set Variable", "AFTER", "1"}});
  int cleanups = 0;
  r.engine.showDialog = [&](const CommandContext& line, bool) {
    atEndOfRun(line.engine(), [&](Engine&) { ++cleanups; });
    endScriptRun(line.engine());
    return DialogAnswer{DialogResult::Next, {}};
  };
  r.run();
  EXPECT_FALSE(r.has("AFTER"));
  EXPECT_EQ(cleanups, 1);
}

}  // namespace
}  // namespace orv
