// A real setup built and run twice: a silent first installation whose files come from two web media
// blocks beside it (one with a password), then the uninstall entry's command line, after which the
// machine is as it was before (files, registry values, shortcuts, the engine cache and the
// registration).
#include <gtest/gtest.h>

#include <windows.h>

#include <map>

#include "core/text.h"
#include "e2e/script_run.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace orv::test {
namespace {

constexpr const char* kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const char* kIdentCache = "SOFTWARE\\Tessaly\\Orvane\\Ident.Cache\\";
// "open sesame" as the image stores it.
constexpr const char* kStoredPassword = "4637323431334331383B393C393B3D38212756252123";

std::string code(unsigned last) {
  char text[64];
  std::snprintf(text, sizeof text, "{%08lX-%04X-4000-8000-%012X}", GetCurrentProcessId(),
                unsigned(GetTickCount64() & 0xFFFF), last);
  return text;
}

using Snapshot = std::map<std::string, std::string>;

void snapshotFiles(Snapshot& snap, const std::string& folder, const std::string& relative = {}) {
  for (const FolderEntry& entry : folderEntries(folder + relative + "*")) {
    const std::string path = relative + entry.name;
    if (entry.isFolder()) {
      snap[path + "\\"] = "D";
      snapshotFiles(snap, folder, path + "\\");
    } else {
      readWholeFile(folder + path, snap[path]);
    }
  }
}

void snapshotKey(Snapshot& snap, HKEY root, const std::string& key) {
  const auto k = RegistryKey::open(root, key);
  if (!k) return;
  snap[key + "\\"] = "";
  for (const std::string& name : k->valueNames()) {
    const std::optional<RegistryValue> v = k->readValue(name);
    if (v) snap[key + "\\" + name] = std::to_string(v->type) + ":" + v->bytes;
  }
  for (const std::string& sub : k->subkeyNames()) snapshotKey(snap, root, key + "\\" + sub);
}

std::vector<std::string> tildeFolders(const std::string& parent) {
  std::vector<std::string> found;
  for (const FolderEntry& entry : folderEntries(parent + "~*")) found.push_back(parent + entry.name);
  return found;
}

class ApplyRun : public ::testing::Test {
 protected:
  void SetUp() override {
    work = freshFolder("apply");
    target = work + "target\\";
    key = "Software\\OrvaneTest\\apply-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64());
    product = code(0xA1);
    revision = code(0xA2);
    title = "Apply Run " + product;
  }
  void TearDown() override {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      for (const std::string& path :
           {std::string(kUninstall) + title, std::string(kUninstall) + product, std::string(kIdentCache) + product})
        RegistryKey::deleteTree(root, path, RegistryView::Bits32);
    RegistryKey::deleteTree(HKEY_CURRENT_USER, key, RegistryView::Bits32);
    deleteTree(work);
  }

  // The installing or removing script: two blocks' files, a registry value and a shortcut.
  SetupImage image() const {
    const ScriptLines lines = {
        {"Set Variable", "NATIVE_ENGINE", "TRUE"},
        {"Set Variable", "DELAYUNTIL_APPLYCHANGES", "TRUE"},
        {"If", "REMOVE", "0", "TRUE", "FALSE"},
        {"Apply Changes", "", "RESULT", "FALSE", "TRUE"},
        {"Else"},
        {"Install Files", "", "", target, "FALSE", "FALSE", "FALSE", "TRUE", "", "FALSE", "FALSE", "FALSE", "FALSE"},
        {"Install Files", "", "", target + "secret", "FALSE", "FALSE", "FALSE", "TRUE", "", "FALSE", "FALSE", "FALSE",
         "FALSE"},
        {"Write Registry", "0", "1", key + "\\values", "Text", "installed", "TRUE", "FALSE"},
        {"Create Shortcut", target + "readme.txt", "Read me", target + "links", "The read-me", "", target, "", "0", "1"},
        {"Apply Changes", "", "RESULT", "TRUE", "FALSE"},
        {"End"},
        {"If", "RESULT", "0", "COMPLETE", "FALSE"},
        {"Terminate with Exit Code", "10"},
        {"End"},
        {"Terminate with Exit Code", "$LASTERROR$"},
    };
    SetupImage img = scriptImage(lines);
    img.productCode = product;
    img.revisionCode = revision;
    img.title = title;
    img.cachingMode = 2;
    img.mediaFolders[5] = "WEB1\\";
    img.mediaFolders[6] = "WEBPW\\";
    img.mediaFiles = {"WEB1", "B1\\readme.txt", "WEB1\\77F6032E\\B1\\", "WEB1", "B1\\app.dat", "WEB1\\77F6032E\\B1\\",
                      "WEBPW", "B2\\secret.txt", "WEBPW\\B2\\"};
    img.mediaPasswords = {"WEBPW", kStoredPassword};
    // Command headers: the files each "Install Files" line places, relative to the data folder.
    img.commandHeaders = {"A0000005", "5", "A0000006", "6"};
    img.headerFiles = {"A0000005", "NEWHEADER", "WEB1\\77F6032E\\B1\\readme.txt", "", "WEB1\\77F6032E\\B1\\app.dat", "",
                       "A0000006", "NEWHEADER", "WEBPW\\B2\\secret.txt", ""};
    return img;
  }

  Snapshot machine() const {
    Snapshot snap;
    snapshotFiles(snap, target);
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      for (const std::string& path :
           {std::string(kUninstall) + title, std::string(kUninstall) + product, std::string(kIdentCache) + product})
        snapshotKey(snap, root, path);
    snapshotKey(snap, HKEY_CURRENT_USER, key);
    return snap;
  }

  std::string work, target, key, product, revision, title;
};

TEST_F(ApplyRun, ASilentInstallFromWebBlocksIsRemovedWhollyByItsUninstallEntry) {
  writeWholeFile(target + "mine.txt", "there before");
  const Snapshot before = machine();

  const SetupFolder setup = buildSetup(image());
  ASSERT_TRUE(copyFileOver(fixture("media\\WEB1.7zip"), setup.folder + "WEB1.7zip"));
  ASSERT_TRUE(copyFileOver(fixture("media\\WEBPW.7zip"), setup.folder + "WEBPW.7zip"));
  const RunResult installed = runSetup(setup, "/s");
  ASSERT_EQ(installed.exitCode, 10u);

  EXPECT_EQ([&] { std::string s; readWholeFile(target + "readme.txt", s); return s; }(), "read me\r\n");
  EXPECT_TRUE(fileExists(target + "app.dat"));
  EXPECT_TRUE(fileExists(target + "secret\\secret.txt"));
  EXPECT_TRUE(fileExists(target + "links\\Read me.lnk"));
  const auto entry = RegistryKey::open(HKEY_LOCAL_MACHINE, std::string(kUninstall) + title);
  ASSERT_TRUE(entry) << "registered for all users (the prefix runs as administrator)";
  const std::string uninstall = entry->getString("UninstallString").value_or("");
  ASSERT_TRUE(startsWithNoCase(uninstall, "\"")) << uninstall;
  const std::string cached = uninstall.substr(1, uninstall.find('"', 1) - 1);
  const std::string cacheFolder = folderOf(cached);
  EXPECT_TRUE(fileExists(cacheFolder + "WEB1\\" + revision)) << "the block's completion marker";
  EXPECT_TRUE(fileExists(cacheFolder + "WEBPW\\" + revision));
  EXPECT_TRUE(fileExists(setup.folder + "WEB1.7zip")) << "an archive beside the setup stays";

  std::string parent = cacheFolder.substr(0, cacheFolder.size() - 1);
  parent = folderOf(parent);
  const std::vector<std::string> tildesBefore = tildeFolders(parent);
  STARTUPINFOW si{sizeof si};
  PROCESS_INFORMATION pi{};
  std::wstring line = widen(uninstall + " /s");
  // Started in its own folder, which it must still be able to remove.
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, widen(cacheFolder).c_str(), &si, &pi));
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
  DWORD exitCode = 0;
  GetExitCodeProcess(pi.hProcess, &exitCode);
  EXPECT_EQ(exitCode, 10u);

  EXPECT_EQ(machine(), before);
  Snapshot left;
  snapshotFiles(left, cacheFolder);
  EXPECT_FALSE(folderExists(cacheFolder)) << "the cache goes (moved aside while its program runs): " << left.size();
  for (const auto& [name, content] : left) ADD_FAILURE() << name;
  // The moved-aside cache waits for the next start; this test removes it itself.
  for (const std::string& moved : tildeFolders(parent))
    if (std::find(tildesBefore.begin(), tildesBefore.end(), moved) == tildesBefore.end()) deleteTree(moved);
}

TEST_F(ApplyRun, AMissingBlockEndsTheSilentRunWithoutInstallingAnything) {
  const SetupFolder setup = buildSetup(image());  // no archives beside it
  const RunResult r = runSetup(setup, "/s ABORTONERROR=TRUE");
  EXPECT_NE(r.exitCode, 10u);
  EXPECT_FALSE(folderExists(target + "links"));
  EXPECT_FALSE(RegistryKey::exists(HKEY_CURRENT_USER, key + "\\values"));
  EXPECT_FALSE(RegistryKey::exists(HKEY_LOCAL_MACHINE, std::string(kUninstall) + title));
}

}  // namespace
}  // namespace orv::test
