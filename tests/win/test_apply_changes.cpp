// "Apply Changes" with the native engine in-process: the deferred replay and its registration, the
// uninstall through the undo log that removes the registration and the cache, the result texts, the
// source check of maintenance runs and the removal through a foreign log.
#include <gtest/gtest.h>

#include "core/text.h"
#include "engines/maintenance.h"
#include "engines/undo_log.h"
#include "native_fixture.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace orv::test {
namespace {

constexpr const char* kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const char* kIdentCache = "SOFTWARE\\Tessaly\\Orvane\\Ident.Cache\\";
constexpr const char* kProduct = "{6F1C2A10-0000-4000-8000-0000000000A1}";
constexpr const char* kRevision = "{6F1C2A10-0000-4000-8000-0000000000A2}";

class ApplyChangesTest : public NativeFixture {
 protected:
  void SetUp() override {
    NativeFixture::SetUp();
    title = "Apply Test " + key.substr(key.rfind('\\') + 1);
    engine.startup.programFolder = root;
    engine.startup.dataFolder = data;
    for (auto [name, value] : std::initializer_list<std::pair<const char*, std::string>>{
             {"TITLE", title}, {"REMOVE", "FALSE"}, {"MODIFY", "FALSE"}, {"SAVEDATA", "FALSE"}, {"LANGUAGE", ""},
             {"TARGETDIR", target}, {"DELAYUNTIL_APPLYCHANGES", "TRUE"}, {"NATIVE_OLDLOG", ""}})
      set(name, value);
  }
  void TearDown() override {
    for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      for (const std::string& path : {std::string(kUninstall) + title, std::string(kUninstall) + kProduct,
                                      std::string(kIdentCache) + kProduct})
        RegistryKey::deleteTree(hive, path, RegistryView::Bits32);
    NativeFixture::TearDown();
  }
  bool registered() const { return RegistryKey::exists(HKEY_CURRENT_USER, std::string(kUninstall) + title); }
  std::string cacheFolder() const { return cache + kRevision + "\\"; }

  // The install lines, then "Apply Changes" with the given install and remove parameters.
  Lines installLines(const char* install, const char* remove) {
    // A file that cannot be placed stops the action (stop on skip).
    return {{"Write Registry", "0", "1", "$KEY$\\values", "Text", "hello", "TRUE", "FALSE"},
            {"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "TRUE", "", "FALSE", "FALSE", "FALSE", "FALSE"},
            {"Create Shortcut", "$TARGET$a.txt", "Read me", "$TARGET$links", "The A file", "", "$TARGET$", "", "0", "1"},
            {"Apply Changes", "", "RESULT", install, remove}};
  }

  std::string title;
};

TEST_F(ApplyChangesTest, ADeferredInstallRegistersAndItsUninstallLeavesNothing) {
  writeData("files\\a.txt", "A");
  writeData(target + "mine.txt", "was there");
  const TreeSnapshot treeBefore = snapshotTree(target);
  const KeySnapshot keyBefore = snapshotKey(HKEY_CURRENT_USER, key, RegistryView::Bits32);

  load(installLines("TRUE", "FALSE"), {{1, {{"files\\a.txt", ""}}}});
  runAll();
  EXPECT_EQ(var("RESULT"), "COMPLETE");
  EXPECT_EQ(read(target + "a.txt"), "A");
  EXPECT_TRUE(fileExists(target + "links\\Read me.lnk"));
  EXPECT_TRUE(registered());
  EXPECT_TRUE(undoLogFilesExist(cacheFolder() + kProduct)) << "the log is flushed into the cache at registration";

  // The maintenance run of the uninstall entry: a removal alone.
  load({{"Apply Changes", "", "RESULT", "FALSE", "TRUE"}});
  set("REMOVE", "TRUE");
  set("MAINTENANCE", "TRUE");
  runAll();
  EXPECT_EQ(var("RESULT"), "COMPLETE");
  EXPECT_EQ(snapshotTree(target), treeBefore);
  EXPECT_EQ(snapshotKey(HKEY_CURRENT_USER, key, RegistryView::Bits32), keyBefore);
  EXPECT_FALSE(registered());
  EXPECT_FALSE(RegistryKey::exists(HKEY_CURRENT_USER, std::string(kIdentCache) + kProduct));
  EXPECT_FALSE(folderExists(cacheFolder()));
}

TEST_F(ApplyChangesTest, ResultTextsFollowTheEngineOutcome) {
  struct Case {
    const char* name;
    const char* deferred;
    bool fileMissing;    // the replay fails (and is rolled back)
    bool rebootNeeded;   // a replacement waits for the next start
    const char* result;
    const char* lastError;
    bool registers;
  };
  const Case cases[] = {
      {"immediate actions, nothing left to do", "FALSE", false, false, "COMPLETE", "", true},
      {"deferred replay", "TRUE", false, false, "COMPLETE", "", true},
      {"a replacement at the next start", "TRUE", false, true, "REBOOT", "", true},
      {"a replay that fails", "TRUE", true, false, "CANCEL", "Setup cancelled", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Each case is a first installation: no earlier case's product, log or values.
    deleteTree(target);
    deleteTree(data);
    deleteTree(cache);
    RegistryKey::deleteTree(HKEY_CURRENT_USER, std::string(kUninstall) + title, RegistryView::Bits32);
    RegistryKey::deleteTree(HKEY_CURRENT_USER, key + "\\values", RegistryView::Bits32);
    engine.native.reset();
    nativeState(engine).questions = questions;
    set("NATIVE_ERROR", "IGNORE");  // a missing source is skipped, which fails its action
    set("DELAYUNTIL_APPLYCHANGES", c.deferred);
    set("ABORTONERROR", "FALSE");
    set("LASTERROR", "");
    set("REBOOTCOMPUTER", "FALSE");
    if (!c.fileMissing) writeData("files\\a.txt", "A");
    load(installLines("TRUE", "FALSE"), {{1, {{"files\\a.txt", ""}}}});
    for (size_t line = 1; line < 4; ++line) runLine(line);
    state().rebootNeeded = c.rebootNeeded;
    runLine(4);
    EXPECT_EQ(var("RESULT"), c.result);
    EXPECT_EQ(var("LASTERROR"), c.lastError);
    EXPECT_EQ(var("REBOOTCOMPUTER"), c.rebootNeeded ? "TRUE" : "FALSE");
    EXPECT_EQ(registered(), c.registers);
    if (c.fileMissing) {
      EXPECT_FALSE(RegistryKey::exists(HKEY_CURRENT_USER, key + "\\values")) << "rolled back";
    }
  }
}

TEST_F(ApplyChangesTest, PatchesAreRefusedNatively) {
  load({{"Set Variable", "LASTERROR", "before"}, {"Apply Patch", "PATCHED"}});
  runAll();
  EXPECT_EQ(var("PATCHED"), "ERROR");
  EXPECT_EQ(var("LASTERROR"), "before");
}

TEST_F(ApplyChangesTest, TheLastTruePlatformWins) {
  struct Case {
    std::vector<std::string> parameters;
    const char* platform;
  };
  const Case cases[] = {{{"TRUE", "FALSE", "TRUE"}, "x64"},
                        {{"FALSE", "TRUE", "FALSE"}, "ia64"},
                        {{"FALSE", "FALSE", "FALSE"}, "ia64"},  // unchanged
                        {{"TRUE", "FALSE", "true"}, "Win32"}};  // compared exactly
  for (const Case& c : cases) {
    std::vector<std::string> line = {"Set 64 Bit Mode"};
    line.insert(line.end(), c.parameters.begin(), c.parameters.end());
    load({line});
    runLine(1);
    EXPECT_EQ(state().platform, c.platform);
  }
}

TEST_F(ApplyChangesTest, MaintenanceWithoutSourcesAsksOrGivesUp) {
  set("MAINTENANCE", "TRUE");
  writeData("files\\a.txt", "A");
  const std::string elsewhere = root + "media\\";
  writeData(elsewhere + "data\\setup.msi", "package");
  writeData(elsewhere + "data\\files\\a.txt", "from the located media");
  struct Case {
    const char* name;
    const char* silent;
    std::deque<std::string> folders;
    const char* result;
  };
  const Case cases[] = {
      {"silent: no prompt, gives up", "TRUE", {elsewhere}, "CANCEL"},
      {"the user gives up", "FALSE", {root + "nothing\\"}, "CANCEL"},
      {"the user points at the media", "FALSE", {root + "nothing\\", elsewhere}, "COMPLETE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    set("SILENT", c.silent);
    set("LASTERROR", "");
    engine.native.reset();  // a fresh queue and no source folder found earlier
    nativeState(engine).questions = questions;
    questions->sourcePrompts = 0;
    questions->sourceFolders = c.folders;
    load(installLines("TRUE", "FALSE"), {{1, {{"files\\a.txt", ""}}}});
    runAll();
    EXPECT_EQ(var("RESULT"), c.result);
    const bool gaveUp = std::string(c.result) == "CANCEL";
    EXPECT_EQ(var("LASTERROR"), gaveUp ? "Original setup sources required to complete operation, sources not found" : "");
    EXPECT_EQ(questions->sourcePrompts, isTrueText(c.silent) ? 0 : static_cast<int>(c.folders.size()) + (gaveUp ? 1 : 0));
    if (!gaveUp) {
      EXPECT_EQ(read(target + "a.txt"), "from the located media");
    }
  }
}

TEST_F(ApplyChangesTest, AForeignLogIsUndoneAndRemovedWithoutTouchingTheRegistration) {
  RegistryKey::create(HKEY_CURRENT_USER, std::string(kUninstall) + title).setString("UninstallString", "x");
  struct Case {
    const char* name;
    bool olderRevision;  // the log lies in an older revision's engine cache
  };
  for (const Case c : {Case{"a log the script names", false}, Case{"an older revision's cache", true}}) {
    SCOPED_TRACE(c.name);
    const std::string oldCache = root + (c.olderRevision ? "oldcache\\{OLD}\\" : "logs\\");
    const std::string base = oldCache + kProduct;
    writeData(target + "old.txt", "old revision's file");
    writeData(oldCache + "setup.exe", "old engine");
    appendUndoLog(base, {{"Delete File", target + "old.txt", 1024, "Win32"}});
    set("NATIVE_LOGGING", base);
    set("NATIVE_OLDLOG", c.olderRevision ? base : "");
    load({{"Apply Changes", "", "RESULT", "FALSE", "TRUE"}});
    runLine(1);
    EXPECT_EQ(var("RESULT"), "COMPLETE");
    EXPECT_FALSE(fileExists(target + "old.txt"));
    EXPECT_FALSE(anyUndoLogFileExists(base));
    EXPECT_EQ(folderExists(oldCache), !c.olderRevision);
    EXPECT_TRUE(registered()) << "the current instance's registration stays";
  }
}

}  // namespace
}  // namespace orv::test
