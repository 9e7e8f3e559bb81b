// The smaller kinds' rules, each as a table or a short case: INI edit modes, environment conditions and
// placements, deletions, moves, key security taken over and given back, Windows Installer mode, and a
// whole script run by the interpreter with the native engine.
#include "native_fixture.h"

#include <aclapi.h>
#include <sddl.h>

#include "core/commatext.h"
#include "core/text.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "platform/system.h"
#include "script/command.h"
#include "script/commands.h"
#include "script/interpreter.h"

namespace orv::test {
namespace {

class NativeKindTest : public NativeFixture {
 protected:
  std::string ini(const std::string& section, const std::string& keyName) {
    wchar_t buf[256] = {};
    GetPrivateProfileStringW(widen(section).c_str(), widen(keyName).c_str(), L"<none>", buf, 256,
                             widen(root + "test.ini").c_str());
    return narrow(buf);
  }
};

TEST_F(NativeKindTest, IniModesWriteKeepPrependRemoveAndUndo) {
  struct Case {
    const char* before;  // value before, or null for none
    const char* mode;
    const char* value;
    const char* after;   // "<none>" for a missing key
    size_t records;
  } cases[] = {
      {nullptr, "0", "v", "v", 1},       {"old", "0", "v", "v", 1},         {"old", "1", "v", "old", 0},
      {nullptr, "1", "v", "v", 1},       {"old", "2", "", "<none>", 0},     {"b", "3", "a", "a, b", 1},
      {nullptr, "3", "a", "a", 1},       {"a, b, c", "4", "b", "a, c", 0},  {"a, b, c", "4", "C", "a, b", 0},
      {"a,b", "4", "a", "b", 0},         {" b ", "4", "B", "<none>", 0},    {"a, b", "4", "x", "a, b", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.before ? c.before : "(none)") + " mode " + c.mode + " " + c.value);
    DeleteFileW(widen(root + "test.ini").c_str());
    if (c.before) WritePrivateProfileStringW(L"S", L"K", widen(c.before).c_str(), widen(root + "test.ini").c_str());
    forgetRecords();
    load({{"Edit INI File", "$ROOT$", "test.ini", c.mode, "S", "K", c.value}});
    runAll();
    EXPECT_EQ(ini("S", "K"), c.after);
    EXPECT_EQ(records().size(), c.records);
  }
  // Undo of a prepend takes out exactly what was prepended.
  DeleteFileW(widen(root + "test.ini").c_str());
  WritePrivateProfileStringW(L"S", L"K", L"mine", widen(root + "test.ini").c_str());
  forgetRecords();
  load({{"Edit INI File", "$ROOT$", "test.ini", "3", "S", "K", "theirs"}});
  runAll();
  EXPECT_EQ(ini("S", "K"), "theirs, mine");
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_EQ(ini("S", "K"), "mine");
}

TEST_F(NativeKindTest, EnvironmentConditionsAndPlacements) {
  const std::string name = "ORVTEST_ENV_" + std::to_string(GetTickCount64());
  set("ENVNAME", name);
  auto write = [&](const char* value, DWORD type) {
    LONG error = 0;
    auto k = RegistryKey::tryCreate(HKEY_CURRENT_USER, "Environment", RegistryView::Bits32, error);
    if (value) k->writeString(name, value, type);
    else k->removeValue(name);
  };
  auto current = [&]() -> std::optional<RegistryValue> {
    return RegistryKey::open(HKEY_CURRENT_USER, "Environment")->readValue(name);
  };
  struct Case {
    const char* before;
    DWORD type;
    const char* value;
    const char* condition;
    const char* placement;
    const char* after;  // null: deleted
    const char* afterUndo;
  } cases[] = {
      {"x;", REG_SZ, "y;", "0", "1", "x;y;", "x;"},
      {"x;", REG_EXPAND_SZ, "%A%;", "0", "0", "%A%;x;", "x;"},
      {"x;", REG_SZ, "y;", "1", "1", "x;", "x;"},  // exists: left alone, nothing recorded
      {nullptr, REG_SZ, "y;", "1", "1", "y;", nullptr},
      {"x;", REG_SZ, "y;", "0", "2", "y;", nullptr},  // replaced: the undo deletes the variable
      {"x;", REG_SZ, "", "2", "0", nullptr, nullptr},  // deleted, not recorded
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.value) + " condition " + c.condition + " placement " + c.placement);
    write(c.before, c.type);
    load({{"Set Environment", "$ENVNAME$", c.value, c.condition, c.placement, "TRUE", "FALSE"}});
    runAll();
    std::optional<RegistryValue> v = current();
    EXPECT_EQ(v.has_value(), c.after != nullptr);
    if (v && c.after) {
      EXPECT_EQ(RegistryKey::open(HKEY_CURRENT_USER, "Environment")->getString(name), c.after);
      EXPECT_EQ(v->type, c.type);
    }
    ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
    const auto k = RegistryKey::open(HKEY_CURRENT_USER, "Environment");
    EXPECT_EQ(k->getString(name).value_or("<deleted>"), c.afterUndo ? c.afterUndo : "<deleted>");
  }
  write(nullptr, REG_SZ);
}

TEST_F(NativeKindTest, DeleteFilesAndMovesWithANewName) {
  writeData(root + "del\\a.tmp", "a");
  writeData(root + "del\\b.tmp", "b");
  writeData(root + "del\\keep.txt", "k");
  writeData(root + "del\\sub\\c.tmp", "c");
  writeData(root + "src\\only.txt", "moved");
  load({{"Delete Files", "$ROOT$del", "*.tmp", "TRUE", "FALSE"},
        {"Copy/Move Local Files", "$ROOT$src", "only.txt", "$TARGET$dest", "renamed.txt", "FALSE", "FALSE"}});
  runAll();
  EXPECT_FALSE(fileExists(root + "del\\a.tmp"));
  EXPECT_FALSE(fileExists(root + "del\\b.tmp"));
  EXPECT_TRUE(fileExists(root + "del\\keep.txt"));
  EXPECT_TRUE(fileExists(root + "del\\sub\\c.tmp"));  // one folder only
  EXPECT_FALSE(fileExists(root + "src\\only.txt"));
  EXPECT_EQ(read(target + "dest\\renamed.txt"), "moved");
  // Records: the destination folder and the moved file (a deletion leaves none).
  ASSERT_EQ(records().size(), 2u);
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_FALSE(folderExists(target + "dest"));
}

std::string keySddl(HKEY root, const std::string& path) {
  const auto k = RegistryKey::open(root, path, READ_CONTROL);
  if (!k) return "<no key>";
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetSecurityInfo(k->get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr, &sd))
    return "<unreadable>";
  wchar_t* text = nullptr;
  ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
  std::string result = text ? narrow(text) : "";
  LocalFree(text);
  LocalFree(sd);
  return result;
}

TEST_F(NativeKindTest, KeySecurityIsTakenOverOnlyWhenAskedAndGivenBack) {
  const std::string locked = key + "\\locked";
  RegistryKey::create(HKEY_CURRENT_USER, locked);
  {
    // Everyone may read; nobody may write.
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1, &sd, nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    const auto k = RegistryKey::open(HKEY_CURRENT_USER, locked, WRITE_DAC);
    ASSERT_TRUE(k);
    ASSERT_EQ(SetSecurityInfo(k->get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, dacl, nullptr),
              DWORD(ERROR_SUCCESS));
    LocalFree(sd);
  }
  const std::string before = keySddl(HKEY_CURRENT_USER, locked);
  LONG error = 0;
  if (RegistryKey::tryOpen(HKEY_CURRENT_USER, locked, KEY_SET_VALUE, RegistryView::Bits32, error))
    GTEST_SKIP() << "this system does not enforce registry key security";
  load({{"Write Registry", "0", "1", "$KEY$\\locked", "V", "written", "TRUE", "FALSE"}});
  set("NATIVE_ERROR", "IGNORE");
  runAll();
  EXPECT_FALSE(RegistryKey::open(HKEY_CURRENT_USER, locked)->hasValue("V"));
  set("NATIVE_OVERRIDE_PERMISSIONS", "TRUE");
  runAll();
  EXPECT_EQ(RegistryKey::open(HKEY_CURRENT_USER, locked)->getString("V"), "written");
  EXPECT_EQ(keySddl(HKEY_CURRENT_USER, locked), before);
  // Clean-up: give write access back.
  const auto k = RegistryKey::open(HKEY_CURRENT_USER, locked, WRITE_DAC);
  if (k) SetSecurityInfo(k->get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr);
}

TEST_F(NativeKindTest, TheTraceShowsEachStepAndEachError) {
  load({{"Create Folder", "$TARGET$t"}, {"Write Registry", "0", "1", "$KEY$", "N", "not a number", "FALSE", "TRUE"}});
  set("NATIVE_ERROR", "IGNORE");
  runAll();
  std::vector<std::string> lines = traceLines();
  const std::string error = "HKEY_CURRENT_USER\\" + key + "\\N\\not a number";
  for (std::string& line : lines)
    if (line.find(error) != std::string::npos) line = "          < (error) " + error + " >";
  const std::vector<std::string> expected = {
      "      <NATIVE INSTALL>", "        <Create Folder>", "        < " + target + "t >", "        </Create Folder>",
      "      </NATIVE INSTALL>", "      <NATIVE INSTALL>", "        <Write Registry>", "        <NATIVE ERROR>",
      "          < (error) " + error + " >", "        </NATIVE ERROR>", "        </Write Registry>",
      "      </NATIVE INSTALL>"};
  EXPECT_EQ(lines, expected);
  // The integer that was not one wrote nothing and left no record.
  EXPECT_FALSE(RegistryKey::exists(HKEY_CURRENT_USER, key) && RegistryKey::open(HKEY_CURRENT_USER, key)->hasValue("N"));
  ASSERT_EQ(records().size(), 1u);
  EXPECT_EQ(records()[0].kind, "Delete Folder");
}

TEST_F(NativeKindTest, WindowsInstallerModeChangesNothingButNeedsTheHeader) {
  load({{"Create Folder", "$TARGET$made"}, {"Create Folder", "$TARGET$made"}}, {{1, {}}});
  set("NATIVE_ENGINE", "FALSE");
  CommandContext first(engine, 1);
  EXPECT_THROW(findCommand("Create Folder")(first), ScriptError);
  runLine(2);
  EXPECT_FALSE(folderExists(target + "made"));
  EXPECT_TRUE(records().empty());
}

TEST_F(NativeKindTest, MissingSourcesInMaintenanceAreAskedFor) {
  writeData(root + "elsewhere\\data\\files\\a.txt", "from the original media");
  writeData(root + "elsewhere\\data\\setup.msi", "package");
  load({{"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"}},
       {{0, {{"files\\a.txt", ""}}}});
  set("MAINTENANCE", "TRUE");
  runAll();  // silent: no question, the action fails and ends the run
  EXPECT_TRUE(runEnded());
  EXPECT_EQ(var("LASTERROR"), "Original setup sources required to complete operation, sources not found");
  EXPECT_EQ(questions->sourcePrompts, 0);

  engine.interpreter->ended = false;
  set("SILENT", "FALSE");
  questions->sourceFolders = {root + "nothing", root + "elsewhere"};
  runAll();
  EXPECT_FALSE(runEnded());
  EXPECT_EQ(questions->sourcePrompts, 2);
  EXPECT_EQ(read(target + "a.txt"), "from the original media");
}

TEST_F(NativeKindTest, TheInterpreterRunsNativeActionsAndEndsTheRunAfterAFailure) {
  writeData("files\\a.txt", "A");
  Engine scriptEngine;
  Trace scriptTrace;
  scriptEngine.trace = &scriptTrace;
  StartupState& s = scriptEngine.startup;
  s.tempFolder = tempFolder();
  s.programFolder = root;
  s.programPath = root + "setup.exe";
  s.programBaseName = "setup";
  s.supportFolder = root + "support\\";
  s.silent = true;
  SetupImage image = scriptLines({{"Set Variable", "NATIVE_ENGINE", "TRUE"},
                                  {"Set Variable", "OVERRIDECACHE", cache},
                                  {"Set Variable", "DATADIR", data},
                                  {"Set Variable", "NATIVE_ERROR", "ABORT"},
                                  {"Create Folder", target + "made"},
                                  {"Install Files", "", "", target, "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE",
                                   "FALSE", "FALSE", "FALSE"},
                                  {"Set Variable", "REACHED", "yes"}});
  image.commandHeaders = {"0000ABCD", "5"};
  image.headerFiles = {"0000ABCD", "NEWHEADER", "files\\missing.txt", ""};
  scriptEngine.loadImage(std::move(image));
  runScript(scriptEngine);
  EXPECT_EQ(scriptEngine.vars.getValue("REACHED"), "");  // the failed line ended the run
  EXPECT_FALSE(folderExists(target + "made"));           // and its changes were rolled back
  EXPECT_EQ(scriptEngine.vars.getValue("ZORN_IsCancelled"), "TRUE");
}

}  // namespace
}  // namespace orv::test
