// The engine cache and maintenance registration: a registration as "Apply Changes" runs it, in-process
// on a real built setup; then the cached engine started with the uninstall entry's command line, and a
// second revision of the product, as separate processes.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "../core/script_image.h"
#include "bootstrap/engine.h"
#include "core/text.h"
#include "engines/maintenance.h"
#include "engines/undo_log.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "support/windows_test.h"
#include "platform/system.h"
#include "script/run_hooks.h"

namespace orv::test {
namespace {

constexpr const char* kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const char* kIdentCache = "SOFTWARE\\Tessaly\\Orvane\\Ident.Cache\\";

std::string unique(const char* tag) {
  static std::atomic<int> counter{0};
  return std::string(tag) + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64() % 100000) +
         "-" + std::to_string(counter++);
}

// A product code unique to this test run, so the shared prefix keeps no trace of other runs.
std::string uniqueCode(unsigned last) {
  char code[64];
  std::snprintf(code, sizeof code, "{%08lX-%04X-4000-8000-%012X}", GetCurrentProcessId(),
                unsigned(GetTickCount64() & 0xFFFF), last);
  return code;
}

std::vector<std::string> when(const char* variable, const std::string& value) { return {"If", variable, "0", value, "FALSE"}; }
std::vector<std::string> mark(int digit) { return {"Set Variable", "TRAIL", "$TRAIL$" + std::to_string(digit)}; }

class Maintenance : public ::testing::Test {
 protected:
  void SetUp() override {
    root = tempFolder() + unique("orvmaint-") + "\\";
    ASSERT_TRUE(createFolders(root));
    productCode = uniqueCode(1);
    title = unique("Maintained Product ");
  }

  void TearDown() override {
    for (HKEY key : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      for (const std::string& path : {std::string(kUninstall) + title, std::string(kUninstall) + productCode,
                                      std::string(kIdentCache) + productCode})
        RegistryKey::deleteTree(key, path, RegistryView::Bits32);
    deleteTree(root);
  }

  // A real setup (engine program with the image appended, resource archive, archive library) whose
  // script ends with the trail of the marks its lines left as exit code.
  std::string buildSetup(const std::string& name, const std::string& revision, std::vector<std::vector<std::string>> body) {
    std::vector<std::vector<std::string>> lines = {{"Set Variable", "TRAIL", "9"}};
    lines.insert(lines.end(), body.begin(), body.end());
    lines.push_back({"Terminate with Exit Code", "$TRAIL$"});
    SetupImage image = scriptLines(lines);
    image.productCode = productCode;
    image.revisionCode = revision;
    image.title = title;
    image.version = "2.7.1";
    image.publisher = "Maker";
    image.languageDialog = "FALSE";
    image.defaultLanguage = "English";
    image.componentSizes = {"ZORN-PREDEF-COMPONENT", "0"};
    const std::string folder = root + name + "\\";
    createFolders(folder);
    std::string program;
    EXPECT_TRUE(readWholeFile(builtProgramFolder() + "orvstub.exe", program)) << builtProgramFolder();
    writeWholeFile(folder + "setup.exe", program + writeImage(image));
    copyFileOver(builtProgramFolder() + "orv.lib", folder + "orv.lib");
    copyFileOver(hostPath(ORV_FIXTURES) + "\\minimal.res", folder + "setup.res");
    setupImage = image;
    return folder;
  }

  // The engine of the setup's first run at the point where "Apply Changes" succeeded.
  void prepareEngine(const std::string& folder) {
    engine.loadImage(setupImage);
    engine.startup.programPath = folder + "setup.exe";
    engine.startup.programFolder = folder;
    engine.startup.programBaseName = "setup";
    engine.startup.resourceArchivePath = folder + "setup.res";
    engine.startup.dataFolder = folder + "data\\";
    engine.msiPath = root + "support\\setup.msi";
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"PRODUCTCODE", productCode}, {"REVISIONCODE", setupImage.revisionCode}, {"TITLE", title},
             {"ALLUSERS", "FALSE"}, {"OVERRIDECACHE", cacheRoot}, {"TARGETDIR", "C:\\Apps\\Maintained\\"},
             {"STARTMENU", "Maintained"}, {"VERSION", "2.7.1"}, {"NATIVE_ENGINE", "TRUE"},
             {"SERIAL", "AB-12"}, {"NOTES", "one\r\ntwo"}, {"LANGUAGE", ""}, {"DATADIR", folder}})
      engine.vars.setValue(name, value);
    engine.persistentVariables = {"SERIAL", "NOTES"};
    engine.components.define("ZORN-PREDEF-COMPONENT", "", true);
    engine.components.define("Tools", "", false);
  }

  // Registration with the native engine: its undo log is flushed between the files and the entries.
  void registerFirstRevision() {
    registerInstance(engine, [&] { ASSERT_TRUE(createEmptyUndoLog(cacheFolder() + productCode)); });
  }

  std::string cacheFolder() const { return cacheRoot + setupImage.revisionCode + "\\"; }

  std::string uninstallValue(const std::string& name) {
    const auto key = RegistryKey::open(HKEY_CURRENT_USER, kUninstall + title);
    return key ? key->getString(name).value_or("<missing>") : "<no key>";
  }

  std::string root, productCode, title;
  std::string cacheRoot;
  SetupImage setupImage;
  Engine engine;
};

TEST_F(Maintenance, ARegistrationCopiesTheEngineAndWritesTheEntriesAndInstanceData) {
  cacheRoot = root + "cache\\";
  const std::string first = buildSetup("first", uniqueCode(2), {});
  prepareEngine(first);
  registerFirstRevision();

  const std::string cache = cacheFolder();
  for (const char* file : {"setup.exe", "setup.res", "orv.lib", "setup.dat", "setup.par", "setup.lnk", "instance.dat"})
    EXPECT_TRUE(fileExists(cache + file)) << file;
  EXPECT_FALSE(fileExists(cache + "setup.lan"));
  EXPECT_EQ(fileSize(cache + "setup.exe"), fileSize(first + "setup.exe"));
  EXPECT_TRUE(isValidEngineCache(cache));

  EXPECT_EQ(uninstallValue("DisplayName"), title);
  EXPECT_EQ(uninstallValue("UninstallString"), "\"" + cache + "setup.exe\" REMOVE=TRUE MODIFY=FALSE");
  EXPECT_EQ(uninstallValue("ModifyPath"), cache + "setup.exe");
  EXPECT_EQ(uninstallValue("DisplayIcon"), cache + "setup.exe");
  EXPECT_EQ(uninstallValue("Publisher"), "Maker");
  EXPECT_EQ(uninstallValue("DisplayVersion"), "2.7.1");
  EXPECT_EQ(uninstallValue("InstallLocation"), "C:\\Apps\\Maintained\\");
  const auto entry = RegistryKey::open(HKEY_CURRENT_USER, kUninstall + title);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->getDword("VersionMajor"), 2u);
  EXPECT_EQ(entry->getDword("VersionMinor"), 7u);
  const auto ident = RegistryKey::open(HKEY_CURRENT_USER, kIdentCache + productCode);
  ASSERT_TRUE(ident);
  EXPECT_EQ(ident->getString(""), cache);
  const auto byCode = RegistryKey::open(HKEY_CURRENT_USER, kUninstall + productCode);
  ASSERT_TRUE(byCode);
  EXPECT_EQ(byCode->getString("UninstallString"), cache + "setup.exe");

  std::string bytes;
  ASSERT_TRUE(readWholeFile(cache + "instance.dat", bytes));
  EXPECT_EQ(bytes, productCode + "\r\n" + setupImage.revisionCode + "\r\n" + title + "\r\n");
  ASSERT_TRUE(readWholeFile(cache + "setup.dat", bytes));
  const InstanceData data = parseInstanceData(decodeInstanceFile(bytes, CP_ACP));
  EXPECT_EQ(data.names, (std::vector<std::string>{"ZORN-PREDEF-COMPONENT", "Tools"}));
  EXPECT_EQ(data.states, (std::vector<std::string>{"TRUE", "FALSE"}));
  EXPECT_EQ(data.targetDir, "C:\\Apps\\Maintained\\");
  EXPECT_EQ(data.allUsers, "FALSE");
  EXPECT_FALSE(data.dataFolder.empty());
  EXPECT_EQ(data.variables, (std::vector<NamedValue>{{"SERIAL", "AB-12"}, {"NOTES", "one$NEWLINE$two"}}));
  EXPECT_EQ(data.platform, "Win32");
  EXPECT_EQ(data.settings, (std::vector<NamedValue>{{"OVERRIDECACHE", cacheRoot}, {"NATIVE_ENGINE", "TRUE"}}));

  unregisterInstance(engine);
  for (const std::string& key : {kUninstall + title, kUninstall + productCode, kIdentCache + productCode})
    EXPECT_FALSE(RegistryKey::exists(HKEY_CURRENT_USER, key)) << key;
}

TEST_F(Maintenance, TheCachedEngineStartsInMaintenanceWithTheRememberedValues) {
  cacheRoot = root + "cache\\";
  const std::string revision = uniqueCode(2);
  const std::string first = buildSetup(
      "first", revision,
      {{"//Set Variable", "SERIAL$ZORN$ZORN$TRUE", "kept"},  // declares the remembered variable
       when("MAINTENANCE", "TRUE"), mark(1), {"End"}, when("REMOVE", "TRUE"), mark(2), {"End"},
       when("SERIAL", "AB-12"), mark(3), {"End"}, when("TARGETDIR", "C:\\Apps\\Maintained\\"), mark(4), {"End"},
       when("NEEDSUPGRADE", "FALSE"), mark(5), {"End"}, when("NEWINSTANCE", "FALSE"), mark(6), {"End"}});
  // The first start of the setup itself is a first installation.
  EXPECT_EQ(runCommandIn("\"" + first + "setup.exe\" /s", first), 956u);
  prepareEngine(first);
  registerFirstRevision();

  const std::string command = uninstallValue("UninstallString");
  EXPECT_EQ(runCommandIn(command + " /s", cacheFolder()), 9123456u);
  // The run's end kept the cache: hidden, instance data still whole.
  EXPECT_TRUE(GetFileAttributesW(widen(cacheFolder()).c_str()) & FILE_ATTRIBUTE_HIDDEN);
  std::string bytes;
  ASSERT_TRUE(readWholeFile(cacheFolder() + "setup.dat", bytes));
  EXPECT_NO_THROW(parseInstanceData(decodeInstanceFile(bytes, CP_ACP)));
}

TEST_F(Maintenance, ASecondRevisionSeesTheFirstOnesLog) {
  cacheRoot = root + "cache\\";
  const std::string first = buildSetup("first", uniqueCode(2), {});
  prepareEngine(first);
  registerFirstRevision();
  const std::string oldLog = cacheFolder() + productCode;

  const std::string second = buildSetup(
      "second", uniqueCode(3),
      {when("NATIVE_OLDLOG", oldLog), mark(1), {"End"}, when("RECOMMENDEDUPGRADE", "TRUE"), mark(2), {"End"},
       when("MAINTENANCE", "FALSE"), mark(3), {"End"}, when("NEEDSUPGRADE", "FALSE"), mark(4), {"End"}});
  EXPECT_EQ(runCommandIn("\"" + second + "setup.exe\" /s", second), 91234u);
}

// The setup started again from its own folder beside the installed instance: maintenance with
// NEWINSTANCE "TRUE"; "Transform Instance" makes it a first installation of a new instance, unless a
// patch lies beside it.
TEST_F(Maintenance, TransformInstanceGivesANewInstanceNewCodes) {
  cacheRoot = root + "cache\\";
  const std::string revision = uniqueCode(2);
  const std::vector<std::vector<std::string>> body = {
      when("MAINTENANCE", "TRUE"), mark(1), {"End"}, when("NEWINSTANCE", "TRUE"), mark(2), {"End"},
      {"Transform Instance"},
      {"If", "PRODUCTCODE", "0", productCode, "TRUE"}, mark(3), {"End"},
      {"If", "REVISIONCODE", "0", revision, "TRUE"}, mark(4), {"End"},
      when("MAINTENANCE", "FALSE"), mark(5), {"End"},
      {"If", "ENGINECACHE", "0", cacheRoot + revision + "\\", "TRUE"}, mark(6), {"End"},
      {"If", "PRODUCTCODE", "0", "", "TRUE"}, mark(7), {"End"}};
  const std::string first = buildSetup("first", revision, body);
  prepareEngine(first);
  registerFirstRevision();
  const std::string command = "\"" + first + "setup.exe\" /s OVERRIDECACHE=" + cacheRoot;
  EXPECT_EQ(runCommandIn(command, first), 91234567u);

  writeWholeFile(first + "setup.msp", "");
  EXPECT_EQ(runCommandIn(command, first), 9127u) << "a patch beside the setup keeps the instance";
}

TEST_F(Maintenance, TheBootstrapFindsTheRegisteredInstanceAndRestoresItsChoices) {
  cacheRoot = root + "cache\\";
  const std::string first = buildSetup("first", uniqueCode(2), {});
  prepareEngine(first);
  engine.vars.setValue("NOTES", "one\r\ntwo");
  registerFirstRevision();

  // The cached engine's start: instance.dat beside it names the product, the image does not.
  Engine cached;
  SetupImage other = setupImage;
  other.productCode = "{00000000-0000-4000-8000-000000000000}";
  other.title = "Other";
  cached.loadImage(other);
  cached.startup.programPath = cacheFolder() + "setup.exe";
  cached.startup.programFolder = cacheFolder();
  cached.startup.programBaseName = "setup";
  cached.msiPath = root + "support2\\setup.msi";
  cached.vars.setValue("ALLUSERS", "FALSE");
  cached.vars.setValue("NEWLINE", "\r\n");
  bootstrapMaintenance(cached);
  EXPECT_EQ(cached.vars.getValue("PRODUCTCODE"), productCode);
  EXPECT_EQ(cached.vars.getValue("TITLE"), title);
  EXPECT_EQ(cached.vars.getValue("MAINTENANCE"), "TRUE");
  EXPECT_EQ(cached.vars.getValue("ENGINECACHE"), cacheFolder());
  EXPECT_EQ(cached.vars.getValue("UNINSTALLLINK"), cacheFolder() + "setup.exe");
  EXPECT_EQ(cached.vars.getValue("NATIVE_OLDLOG"), "");
  EXPECT_EQ(cached.vars.expand("$NOTES$"), "one\r\ntwo");
  EXPECT_EQ(cached.vars.getValue("OVERRIDECACHE"), cacheRoot);
  EXPECT_EQ(cached.components.names, (std::vector<std::string>{"ZORN-PREDEF-COMPONENT", "Tools"}));
  EXPECT_EQ(cached.persistentVariables, (std::vector<std::string>{"SERIAL", "NOTES"}));
}

TEST_F(Maintenance, AMalformedInstanceDataFileLoadsNothingAndStaysAsItWas) {
  const std::string file = root + "broken.dat";
  writeWholeFile(file, "Tools\r\n$\r\nTRUE\r\n");
  EXPECT_EQ(loadInstanceData(engine, file, InstanceLoadMode::Full), LoadOutcome::Malformed);
  EXPECT_TRUE(engine.components.names.empty());
  EXPECT_FALSE(engine.vars.exists("TARGETDIR"));
  engine.persistentVariables = {"X"};
  engine.vars.setValue("X", "1");
  EXPECT_FALSE(writeInstanceData(engine, file, false));
  std::string bytes;
  readWholeFile(file, bytes);
  EXPECT_EQ(bytes, "Tools\r\n$\r\nTRUE\r\n");
}

TEST_F(Maintenance, TheCacheOverrideIsProvedAndGivenItsBackslash) {
  engine.loadImage(scriptLines({}));
  engine.startup.programPath = root + "setup.exe";
  engine.startup.programFolder = root;
  engine.vars.setValue("PRODUCTCODE", productCode);
  const std::string wanted = root + "new\\deeper";
  engine.vars.setValue("OVERRIDECACHE", wanted);
  applyCacheOverride(engine, wanted);
  EXPECT_EQ(engine.vars.getValue("OVERRIDECACHE"), wanted + "\\");
  EXPECT_EQ(engine.vars.getValue("ENGINECACHE"), wanted + "\\" + engine.vars.getValue("REVISIONCODE") + "\\");
  EXPECT_FALSE(folderExists(root + "new")) << "folders made only for the test go again";

  engine.vars.setValue("OVERRIDECACHE", "Q:\\\\?bad|name");
  applyCacheOverride(engine, "Q:\\\\?bad|name");
  EXPECT_EQ(engine.vars.getValue("OVERRIDECACHE"), "");
}

TEST_F(Maintenance, AnIdentCacheEntryOfAnotherRevisionIsIgnored) {
  engine.vars.setValue("PRODUCTCODE", productCode);
  engine.vars.setValue("REVISIONCODE", uniqueCode(5));
  const std::string otherRevision = root + "elsewhere\\" + uniqueCode(6) + "\\";
  createFolders(otherRevision);
  RegistryKey::create(HKEY_CURRENT_USER, kIdentCache + productCode).setString("", otherRevision);
  const std::string appData = instanceCacheRoot(engine, false);
  EXPECT_EQ(appData.find(root), std::string::npos) << appData;
  EXPECT_FALSE(appData.empty());
  const std::string sameRevision = root + "mine\\" + engine.vars.getValue("REVISIONCODE") + "\\";
  createFolders(sameRevision);
  RegistryKey::create(HKEY_CURRENT_USER, kIdentCache + productCode).setString("", sameRevision);
  EXPECT_EQ(instanceCacheRoot(engine, false), root + "mine\\");
  engine.vars.setValue("OVERRIDECACHE", root + "forced");
  EXPECT_EQ(instanceCacheRoot(engine, false), root + "forced\\");
}

TEST_F(Maintenance, ResumeEntriesOfTheProductAreRemoved) {
  engine.vars.setValue("PRODUCTCODE", productCode);
  const std::string name = productCode.substr(1, 8);
  const std::string runOnce = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\";
  RegistryKey::create(HKEY_CURRENT_USER, runOnce).setString(name, "resume");
  RegistryKey::create(HKEY_CURRENT_USER, runOnce).setString(name + "X", "other");
  removeResumeEntries(engine);
  const auto key = RegistryKey::open(HKEY_CURRENT_USER, runOnce);
  ASSERT_TRUE(key);
  EXPECT_FALSE(key->hasValue(name));
  EXPECT_TRUE(key->hasValue(name + "X"));
  RegistryKey::open(HKEY_CURRENT_USER, runOnce, KEY_ALL_ACCESS)->deleteValue(name + "X");
}

}  // namespace
}  // namespace orv::test
