// Installing through the native engine and undoing it: every kind leaves its change and its record; an
// uninstall removes what the run created and leaves what was there before; a failure part-way rolls the
// machine back to the exact state before.
#include "native_fixture.h"

#include <shlobj.h>

#include "core/commatext.h"
#include "core/text.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace orv::test {
namespace {

class NativeInstallTest : public NativeFixture {
 protected:
  void TearDown() override {
    if (!environmentName.empty()) {
      LONG error = 0;
      if (auto k = RegistryKey::tryOpen(HKEY_CURRENT_USER, "Environment", KEY_READ | KEY_WRITE, RegistryView::Bits32, error))
        k->removeValue(environmentName);
    }
    NativeFixture::TearDown();
  }
  std::string environment() const {
    const auto k = RegistryKey::open(HKEY_CURRENT_USER, "Environment");
    return k ? k->getString(environmentName).value_or("<missing>") : "<missing>";
  }
  std::optional<RegistryValue> value(const std::string& subkey, const std::string& name,
                                     RegistryView view = RegistryView::Bits32) {
    const auto k = RegistryKey::open(HKEY_CURRENT_USER, key + subkey, KEY_READ, view);
    return k ? k->readValue(name) : std::nullopt;
  }
  std::string environmentName;
};

std::string utf16(const std::wstring& w) {
  return std::string(reinterpret_cast<const char*>(w.c_str()), (w.size() + 1) * 2);
}

TEST_F(NativeInstallTest, InstallThenUninstallLeavesOnlyWhatWasThere) {
  environmentName = "ORVTEST_" + std::to_string(GetTickCount64());
  set("ENVNAME", environmentName);
  // What was there before.
  writeData(target + "existing.txt", "old");
  writeData(target + "keep\\mine.txt", "mine");
  RegistryKey::create(HKEY_CURRENT_USER, key).setString("pre", "pre");
  RegistryKey::create(HKEY_CURRENT_USER, key + "\\multi").writeMultiString("List", {"middle"});
  {
    LONG error = 0;
    RegistryKey::tryCreate(HKEY_CURRENT_USER, "Environment", RegistryView::Bits32, error)
        ->writeString(environmentName, "base;");
  }
  const TreeSnapshot treeBefore = snapshotTree(target);
  const KeySnapshot keyBefore = snapshotKey(HKEY_CURRENT_USER, key, RegistryView::Bits32);

  writeData("files\\a.txt", "A");
  writeData("files\\b, c.txt", "B");
  writeData("files\\existing.txt", "new");
  load({{"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"},
        {"Install Files", "", "", "$TARGET$flags", "TRUE", "TRUE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"},
        {"Create Folder", "$TARGET$empty\\deep"},
        {"Write Registry", "0", "1", "$KEY$\\values", "Text", "hello, \"world\"", "TRUE", "FALSE"},
        {"Write Registry", "0", "1", "$KEY$\\values", "Number", "-2", "FALSE", "TRUE"},
        {"Write Registry", "0", "1", "$KEY$\\values", "Expand", "%TEMP%\\x", "FALSE", "EXPANDSTRING"},
        {"Write Registry", "0", "1", "$KEY$\\values", "Bytes", "0AFF10", "FALSE", "BINARY"},
        {"Write Registry", "0", "1", "$KEY$\\multi", "List", "last", "FALSE", "APPEND"},
        {"Write Registry", "0", "1", "$KEY$\\multi", "List", "first", "FALSE", "PREPEND"},
        {"Write Registry", "0", "1", "$KEY$", "pre", "changed", "TRUE", "FALSE"},
        {"Write Registry", "10", "1", "$KEY$\\permanent", "Stays", "yes", "TRUE", "FALSE"},
        {"Edit INI File", "$TARGET$", "app.ini", "0", "Main", "Key", "one"},
        {"Edit INI File", "$TARGET$", "app.ini", "3", "Main", "List", "b"},
        {"Edit INI File", "$TARGET$", "app.ini", "3", "Main", "List", "a"},
        {"Set Environment", "$ENVNAME$", "added;", "0", "0", "TRUE", "FALSE"},
        {"Create Shortcut", "$TARGET$a.txt", "Read me", "$TARGET$links", "The A file", "/x", "$TARGET$", "", "0",
         "1"}},
       {{0, {{"files\\a.txt", ""}, {"files\\b, c.txt", "docs\\more"}, {"files\\existing.txt", ""}}},
        {1, {{"files\\a.txt", ""}}}});
  set("NATIVE_OVERWRITE", "ALWAYS");
  set("NATIVE_OVERWRITE_OLDER", "TRUE");
  runAll();
  ASSERT_FALSE(runEnded());

  EXPECT_EQ(read(target + "a.txt"), "A");
  EXPECT_EQ(read(target + "docs\\more\\b, c.txt"), "B");
  EXPECT_EQ(read(target + "existing.txt"), "new");
  EXPECT_EQ(GetFileAttributesW(widen(target + "flags\\a.txt").c_str()) & 7u, 3u);  // read-only and hidden
  EXPECT_TRUE(folderExists(target + "empty\\deep"));
  EXPECT_EQ(value("\\values", "Text")->bytes, utf16(L"hello, \"world\""));
  const std::optional<RegistryValue> number = value("\\values", "Number");
  ASSERT_TRUE(number);
  EXPECT_EQ(number->type, DWORD(REG_DWORD));
  EXPECT_EQ(*reinterpret_cast<const uint32_t*>(number->bytes.data()), 0xFFFFFFFEu);
  EXPECT_EQ(value("\\values", "Expand")->type, DWORD(REG_EXPAND_SZ));
  EXPECT_EQ(value("\\values", "Bytes")->bytes, std::string("\x0A\xFF\x10"));
  EXPECT_EQ(RegistryKey::open(HKEY_CURRENT_USER, key + "\\multi")->getMultiString("List"),
            (std::vector<std::string>{"first", "middle", "last"}));
  wchar_t ini[64] = {};
  GetPrivateProfileStringW(L"Main", L"List", L"", ini, 64, widen(target + "app.ini").c_str());
  EXPECT_EQ(narrow(ini), "a, b");
  EXPECT_EQ(environment(), "added;base;");
  EXPECT_TRUE(fileExists(target + "links\\Read me.lnk"));

  // The log was written when the uninstall started; it replays everything backwards.
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_EQ(state().lastJob.code, 1);
  // The replaced file and the overwritten value cannot come back: the undo removes them.
  TreeSnapshot expectedTree = treeBefore;
  expectedTree.erase("existing.txt");
  EXPECT_EQ(snapshotTree(target), expectedTree);
  KeySnapshot keyAfter = snapshotKey(HKEY_CURRENT_USER, key, RegistryView::Bits32);
  EXPECT_EQ(keyAfter.count(key + "\\permanent\\Stays"), 1u);
  keyAfter.erase(key + "\\permanent\\");
  keyAfter.erase(key + "\\permanent\\Stays");
  KeySnapshot expectedKeys = keyBefore;
  expectedKeys.erase(key + "\\pre");
  expectedKeys.erase(key + "\\multi\\List");
  EXPECT_EQ(keyAfter, expectedKeys);
  EXPECT_EQ(environment(), "base;");
}

TEST_F(NativeInstallTest, AFailurePartWayRollsBackToTheExactStateBefore) {
  writeData(target + "existing\\file.txt", "before");
  RegistryKey::create(HKEY_CURRENT_USER, key + "\\existing").setString("v", "before");
  writeData("files\\one.txt", "1");
  const TreeSnapshot treeBefore = snapshotTree(root + "target");
  const KeySnapshot keyBefore = snapshotKey(HKEY_CURRENT_USER, key, RegistryView::Bits32);
  load({{"Install Files", "", "", "$TARGET$new\\deeper", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE",
         "FALSE", "FALSE"},
        {"Write Registry", "0", "1", "$KEY$\\existing\\new\\deeper", "v", "x", "TRUE", "FALSE"},
        {"Edit INI File", "$TARGET$existing", "settings.ini", "0", "S", "K", "V"},
        {"Create Folder", "$TARGET$made"},
        {"Install Files", "", "", "$TARGET$new", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE",
         "FALSE"},
        {"Create Folder", "$TARGET$never"}},
       {{0, {{"files\\one.txt", ""}}}, {4, {{"files\\missing.txt", ""}}}});
  set("NATIVE_ERROR", "ABORT");
  runAll();
  EXPECT_TRUE(runEnded());  // the failed line ends the run
  EXPECT_EQ(var("ZORN_IsCancelled"), "TRUE");
  EXPECT_EQ(snapshotTree(root + "target"), treeBefore);
  EXPECT_EQ(snapshotKey(HKEY_CURRENT_USER, key, RegistryView::Bits32), keyBefore);
  // The rollback had to create the log's folder, so it removed the log again.
  EXPECT_FALSE(folderExists(cache));
}

TEST_F(NativeInstallTest, ARollbackInALaterRunLeavesWhatEarlierRunsInstalled) {
  writeData("files\\one.txt", "1");
  const std::vector<std::string> install = {"Install Files", "", "", "", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"};
  std::vector<std::string> first = install, failing = install;
  first[3] = "$TARGET$first";
  failing[3] = "$TARGET$second";
  load({first, {"Create Folder", "$TARGET$second"}, failing},
       {{0, {{"files\\one.txt", ""}}}, {2, {{"files\\missing.txt", ""}}}});
  runLine(1);
  ASSERT_TRUE(fileExists(target + "first\\one.txt"));
  // A later run (a repair, say) of the same product: a new process that has written nothing yet.
  state().journal.reset();
  state().recordsBeforeRun.clear();
  set("NATIVE_ERROR", "ABORT");
  runLine(2);
  runLine(3);
  EXPECT_TRUE(runEnded());
  EXPECT_FALSE(folderExists(target + "second"));
  EXPECT_TRUE(fileExists(target + "first\\one.txt")) << "the failed run took the installed product with it";
  // The earlier run's records stay for its uninstall (a later run, not cancelled).
  set("ZORN_IsCancelled", "FALSE");
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_FALSE(folderExists(target + "first"));
}

TEST_F(NativeInstallTest, ARollbackUndoesChangesWhoseLogCannotBeWritten) {
  writeData(root + "not-a-folder", "a file where the log's folder would go");
  set("OVERRIDECACHE", root + "not-a-folder\\cache\\");
  writeData("files\\one.txt", "1");
  load({{"Install Files", "", "", "$TARGET$new", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"},
        {"Install Files", "", "", "$TARGET$new", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"}},
       {{0, {{"files\\one.txt", ""}}}, {1, {{"files\\missing.txt", ""}}}});
  set("NATIVE_ERROR", "ABORT");
  runAll();
  EXPECT_TRUE(runEnded());
  EXPECT_FALSE(folderExists(target + "new"));
  bool described = false;
  for (const std::string& line : traceLines()) described |= line.find("cannot be created") != std::string::npos;
  EXPECT_TRUE(described);
}

TEST_F(NativeInstallTest, ADeferredBatchThatFailsIsRolledBackAndReportsItsOwnResult) {
  writeData("files\\one.txt", "1");
  load({{"Create Folder", "$TARGET$a"},
        {"Install Files", "", "", "$TARGET$a", "FALSE", "FALSE", "FALSE", "TRUE", "", "FALSE", "FALSE", "FALSE", "FALSE"}},
       {{1, {{"files\\missing.txt", ""}}}});
  set("DELAYUNTIL_APPLYCHANGES", "TRUE");
  set("NATIVE_ERROR", "IGNORE");  // the copy fails and is ignored; stop-on-skip fails the action
  runAll();
  EXPECT_TRUE(runDeferredActions(engine));  // no cancel: the job itself reports success ...
  EXPECT_EQ(state().lastJob.code, 0);       // ... with the failed batch's result, not the rollback's
  EXPECT_FALSE(folderExists(target + "a"));
}

TEST_F(NativeInstallTest, SharedFilesCountTheirUsersAndGoWithTheLast) {
  const std::string sharedKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
  auto count = [&](const std::string& path) -> std::optional<uint32_t> {
    const auto k = RegistryKey::open(HKEY_LOCAL_MACHINE, sharedKey);
    return k ? k->getDword(path) : std::nullopt;
  };
  writeData("files\\shared.dll", "S");
  writeData("files\\fresh.dll", "F");
  writeData(target + "shared.dll", "S");  // there before: counted 2 on install
  load({{"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "TRUE", "FALSE", "FALSE"}},
       {{0, {{"files\\shared.dll", ""}, {"files\\fresh.dll", ""}}}});
  set("NATIVE_OVERWRITE", "ALWAYS");
  set("NATIVE_OVERWRITE_OLDER", "TRUE");
  runAll();
  EXPECT_EQ(count(target + "shared.dll"), 2u);
  EXPECT_EQ(count(target + "fresh.dll"), 1u);
  RegistryKey::create(HKEY_LOCAL_MACHINE, sharedKey).setDword(target + "shared.dll", 3);  // another product too
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_EQ(count(target + "shared.dll"), 2u);
  EXPECT_TRUE(fileExists(target + "shared.dll"));
  EXPECT_EQ(count(target + "fresh.dll"), std::nullopt);
  EXPECT_FALSE(fileExists(target + "fresh.dll"));
  // Replayed records have left the log: a second uninstall changes no count again.
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_EQ(count(target + "shared.dll"), 2u);
}

TEST_F(NativeInstallTest, SelfRegisteringLibrariesRegisterAndUnregister) {
  writeVersionedLibrary(data + "files\\server.dll", 1, 0, 0, 0);
  load({{"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "", "TRUE", "FALSE", "FALSE", "FALSE"}},
       {{0, {{"files\\server.dll", ""}}}});
  runAll();
  const std::string installed = target + "server.dll";
  auto registered = [&] {
    const auto k = RegistryKey::open(HKEY_CURRENT_USER, "Software\\OrvaneTest\\SelfReg", KEY_READ, RegistryView::Bits64);
    return k && k->hasValue(installed);
  };
  EXPECT_TRUE(registered());
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_FALSE(registered());
  EXPECT_FALSE(fileExists(installed));
}

TEST_F(NativeInstallTest, OnlyIfAbsentAndPermanentFilesAreLeftAlone) {
  writeData("files\\a.txt", "new");
  writeData("files\\b.txt", "new");
  writeData(target + "a.txt", "old");
  load({{"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "TRUE"},
        {"Install Files", "", "", "$TARGET$perm", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "TRUE", "FALSE"}},
       {{0, {{"files\\a.txt", ""}}}, {1, {{"files\\b.txt", ""}}}});
  set("NATIVE_OVERWRITE", "ALWAYS");
  set("NATIVE_OVERWRITE_OLDER", "TRUE");
  runAll();
  EXPECT_EQ(read(target + "a.txt"), "old");
  EXPECT_EQ(read(target + "perm\\b.txt"), "new");
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_EQ(read(target + "a.txt"), "old");
  EXPECT_EQ(read(target + "perm\\b.txt"), "new");  // permanent: kept (its new folder too)
  EXPECT_TRUE(questions->asked.empty());
}

TEST_F(NativeInstallTest, FileTypesWriteTheirClassesKeys) {
  const std::string unique = std::to_string(GetTickCount64());
  const std::string progId = "OrvTest.File" + unique, extension = ".orvtest" + unique;
  set("PROGID", progId);
  set("EXTENSION", extension);
  load({{"Create File Type", "$PROGID$", "$TARGET$app.exe", "Test document", "$TARGET$app.exe", "1",
         joinCommaText({extension}), joinCommaText({joinCommaText({"open", "\"%1\"", "", "", ""})})}});
  runAll();
  auto classes = [](const std::string& path) { return RegistryKey::open(HKEY_CLASSES_ROOT, path); };
  ASSERT_TRUE(classes(progId));
  EXPECT_EQ(classes(progId)->getString(""), "Test document");
  EXPECT_EQ(classes(progId + "\\DefaultIcon")->getString(""), target + "app.exe,1");
  EXPECT_EQ(classes(extension)->getString(""), progId);
  EXPECT_EQ(classes(progId + "\\Shell\\open\\Command")->getString(""), "\"" + target + "app.exe\" \"%1\"");
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_FALSE(classes(progId));
  EXPECT_FALSE(classes(extension));
  RegistryKey::deleteTree(HKEY_CLASSES_ROOT, progId, RegistryView::Bits32);
  RegistryKey::deleteTree(HKEY_CLASSES_ROOT, extension, RegistryView::Bits32);
}

TEST_F(NativeInstallTest, Win32PlatformSeesTheWow64SystemFolderAndRegistryView) {
  wchar_t windows[MAX_PATH];
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  const std::string name = "orvtest-" + std::to_string(GetTickCount64());
  const std::string system32 = withTrailingBackslash(narrow(windows)) + "System32\\" + name;
  const std::string syswow64 = withTrailingBackslash(narrow(windows)) + "SysWOW64\\" + name;
  const std::string machineKey = "SOFTWARE\\OrvaneTest\\" + name;
  set("SYSFOLDER", system32);
  set("MACHINEKEY", machineKey);
  load({{"Create Folder", "$SYSFOLDER$"},
        {"Write Registry", "0", "2", "$MACHINEKEY$", "Bits", "32", "TRUE", "FALSE"},
        {"Create Folder", "$SYSFOLDER$"},
        {"Write Registry", "0", "2", "$MACHINEKEY$", "Bits", "64", "TRUE", "FALSE"}});
  runLine(1);
  runLine(2);
  setCurrentPlatform(engine, "x64");
  runLine(3);
  runLine(4);
  EXPECT_TRUE(folderExists(syswow64));
  EXPECT_TRUE(folderExists(system32));
  auto bits = [&](RegistryView view) {
    const auto k = RegistryKey::open(HKEY_LOCAL_MACHINE, machineKey, KEY_READ, view);
    return k ? k->getString("Bits").value_or("") : std::string("<no key>");
  };
  EXPECT_EQ(bits(RegistryView::Bits32), "32");
  EXPECT_EQ(bits(RegistryView::Bits64), "64");
  // Each record replays in its own view.
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_FALSE(folderExists(syswow64));
  EXPECT_FALSE(folderExists(system32));
  EXPECT_EQ(bits(RegistryView::Bits32), "<no key>");
  EXPECT_EQ(bits(RegistryView::Bits64), "<no key>");
  RemoveDirectoryW(widen(syswow64).c_str());
  RemoveDirectoryW(widen(system32).c_str());
  for (RegistryView view : {RegistryView::Bits32, RegistryView::Bits64})
    RegistryKey::deleteTree(HKEY_LOCAL_MACHINE, machineKey, view);
}

}  // namespace
}  // namespace orv::test
