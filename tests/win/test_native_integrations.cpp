// Native kinds that reach system facilities: shell links, services, ODBC drivers and data sources, and
// the global assembly cache (absent under Wine: a recording stand-in takes its place).
#include "native_fixture.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

#include "core/commatext.h"
#include "core/text.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace orv::test {
namespace {

class NativeIntegrationTest : public NativeFixture {};

struct LinkFacts {
  std::string path, arguments, workingFolder, description, icon;
  int iconIndex = -1, show = 0;
};

LinkFacts readLink(const std::string& file) {
  LinkFacts facts;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IShellLinkW* link = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link)))) {
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
      if (SUCCEEDED(persist->Load(widen(file).c_str(), STGM_READ))) {
        wchar_t buf[MAX_PATH] = {};
        link->GetPath(buf, MAX_PATH, nullptr, SLGP_RAWPATH);
        facts.path = narrow(buf);
        link->GetArguments(buf, MAX_PATH);
        facts.arguments = narrow(buf);
        link->GetWorkingDirectory(buf, MAX_PATH);
        facts.workingFolder = narrow(buf);
        link->GetDescription(buf, MAX_PATH);
        facts.description = narrow(buf);
        link->GetIconLocation(buf, MAX_PATH, &facts.iconIndex);
        facts.icon = narrow(buf);
      }
      persist->Release();
    }
    link->Release();
  }
  CoUninitialize();
  // The show command as the file holds it (ShellLinkHeader.ShowCommand, offset 60): Wine's link object
  // does not read it back.
  std::string bytes;
  if (readWholeFile(file, bytes) && bytes.size() >= 64) memcpy(&facts.show, bytes.data() + 60, 4);
  return facts;
}

TEST_F(NativeIntegrationTest, ShortcutsCarryEverySetting) {
  writeData(target + "app.exe", "program");
  load({{"Create Shortcut", "$TARGET$app.exe|TRUE", "My App", "$TARGET$Start Menu\\Product|FALSE", "Runs it",
         "--fast", "$TARGET$|FALSE", "$TARGET$app.exe|FALSE", "2|", "1|7X"}});
  runAll();
  const std::string link = target + "Start Menu\\Product\\My App.lnk";
  ASSERT_TRUE(fileExists(link));
  const LinkFacts facts = readLink(link);
  EXPECT_TRUE(equalsNoCase(facts.path, target + "app.exe")) << facts.path;
  EXPECT_EQ(facts.arguments, "--fast");
  EXPECT_TRUE(equalsNoCase(withTrailingBackslash(facts.workingFolder), target)) << facts.workingFolder;
  EXPECT_EQ(facts.description, "Runs it");
  EXPECT_TRUE(equalsNoCase(facts.icon, target + "app.exe"));
  EXPECT_EQ(facts.iconIndex, 2);
  EXPECT_EQ(facts.show, SW_SHOWMAXIMIZED);
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_FALSE(fileExists(link));
  EXPECT_FALSE(folderExists(target + "Start Menu"));
  EXPECT_TRUE(fileExists(target + "app.exe"));
}

struct ServiceCloser {
  void operator()(SC_HANDLE h) const {
    if (h) CloseServiceHandle(h);
  }
};
using Service = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceCloser>;

std::optional<std::pair<std::string, DWORD>> serviceConfig(const std::string& name) {
  Service manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  Service service(manager ? OpenServiceW(manager.get(), widen(name).c_str(), SERVICE_QUERY_CONFIG) : nullptr);
  if (!service) return std::nullopt;
  DWORD size = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &size);
  std::vector<char> buf(size);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf.data());
  if (!QueryServiceConfigW(service.get(), config, size, &size)) return std::nullopt;
  return std::pair{narrow(config->lpBinaryPathName), config->dwStartType};
}

TEST_F(NativeIntegrationTest, ServicesAreCreatedControlledAndDeleted) {
  const std::string name = "OrvTestService" + std::to_string(GetTickCount64());
  set("SERVICE", name);
  writeData("files\\service.exe", "not really a program");
  load({{"Install Service", "", "$TARGET$svc", "", "$SERVICE$", "Orvane Test Service", "Described", "0", "FALSE", "",
         "", "1", "1", "", "", "-run now"},
        {"Control Service", "$SERVICE$", "", "2", "FALSE"}},
       {{0, {{"files\\service.exe", ""}}}});
  runLine(1);
  const auto config = serviceConfig(name);
  ASSERT_TRUE(config);
  EXPECT_EQ(config->first, "\"" + target + "svc\\service.exe\" -run now");
  EXPECT_EQ(config->second, DWORD(SERVICE_DEMAND_START));
  const auto description =
      RegistryKey::open(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\" + name, KEY_READ, RegistryView::Bits64);
  ASSERT_TRUE(description);
  EXPECT_EQ(description->getString("Description"), "Described");
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_FALSE(serviceConfig(name));
  EXPECT_FALSE(fileExists(target + "svc\\service.exe"));

  // "Control Service" with operation 2 stops and deletes a service (and records nothing).
  runLine(1);
  ASSERT_TRUE(serviceConfig(name));
  forgetRecords();
  runLine(2);
  EXPECT_FALSE(serviceConfig(name));
  EXPECT_TRUE(records().empty());
}

DWORD serviceState(const std::string& name) {
  Service manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  Service service(manager ? OpenServiceW(manager.get(), widen(name).c_str(), SERVICE_QUERY_STATUS) : nullptr);
  SERVICE_STATUS status{};
  return service && QueryServiceStatus(service.get(), &status) ? status.dwCurrentState : 0;
}

TEST_F(NativeIntegrationTest, ServicesStartWithTheirArgumentAndStopWaitingForIt) {
  const std::string name = "OrvTestRunning" + std::to_string(GetTickCount64());
  set("SERVICE", name);
  createFolders(data + "files");
  ASSERT_TRUE(copyFileOver(serviceProgram(), data + "files\\service.exe"));
  load({{"Install Service", "", "$TARGET$svc", "", "$SERVICE$", "Orvane Running Service", "", "0", "FALSE", "", "", "1",
         "1", "", "", ""},
        {"Control Service", "$SERVICE$", "$ROOT$started.txt", "0", "TRUE"},
        {"Control Service", "$SERVICE$", "", "1", "TRUE"}},
       {{0, {{"files\\service.exe", ""}}}});
  runLine(1);
  runLine(2);
  EXPECT_EQ(serviceState(name), DWORD(SERVICE_RUNNING));
  EXPECT_EQ(read(root + "started.txt"), "started");
  runLine(3);
  EXPECT_EQ(serviceState(name), DWORD(SERVICE_STOPPED));
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_EQ(serviceState(name), 0u);
}

TEST_F(NativeIntegrationTest, OdbcDriversCountTheirInstallations) {
  const std::string driver = "Orvane Test Driver " + std::to_string(GetTickCount64());
  const std::string driverKey = "SOFTWARE\\ODBC\\ODBCINST.INI\\" + driver;
  set("DRIVER", driver);
  writeData("files\\orvdrv.dll", "driver");
  writeData("files\\orvdrvs.dll", "setup");
  load({{"Install ODBC Driver", "$DRIVER$", "", "", "$TARGET$odbc", "", "APILevel=1$NEWLINE$FileUsage=[USAGE]"}},
       {{0, {{"files\\orvdrv.dll", ""}, {"files\\orvdrvs.dll", "SETUP"}}}});
  set("USAGE", "0");
  set("NATIVE_OVERWRITE", "ALWAYS");
  set("NATIVE_OVERWRITE_OLDER", "TRUE");
  auto values = [&]() { return RegistryKey::open(HKEY_LOCAL_MACHINE, driverKey); };
  runAll();
  ASSERT_TRUE(values());
  EXPECT_EQ(values()->getDword("UsageCount"), 1u);
  EXPECT_EQ(values()->getString("Driver"), target + "odbc\\orvdrv.dll");
  EXPECT_EQ(values()->getString("Setup"), target + "odbc\\orvdrvs.dll");
  EXPECT_EQ(values()->getString("APILevel"), "1");
  EXPECT_EQ(values()->getString("FileUsage"), "0");
  EXPECT_EQ(RegistryKey::open(HKEY_LOCAL_MACHINE, "SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers")->getString(driver),
            "Installed");
  runAll();  // a second product installs the same driver
  EXPECT_EQ(values()->getDword("UsageCount"), 2u);
  // Each product's uninstall replays its own record: the count goes down, then the driver goes.
  std::vector<UndoRecord> drivers;
  for (const UndoRecord& r : records())
    if (r.kind == "Delete ODBC Driver") drivers.push_back(r);
  ASSERT_EQ(drivers.size(), 2u);
  setRecords({drivers[0]});
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  ASSERT_TRUE(values());
  EXPECT_EQ(values()->getDword("UsageCount"), 1u);
  EXPECT_TRUE(fileExists(target + "odbc\\orvdrv.dll"));
  setRecords({drivers[1]});
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_FALSE(values());
  EXPECT_FALSE(fileExists(target + "odbc\\orvdrv.dll"));
  EXPECT_FALSE(fileExists(target + "odbc\\orvdrvs.dll"));
  EXPECT_FALSE(RegistryKey::open(HKEY_LOCAL_MACHINE, "SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers")->hasValue(driver));
}

class RecordingAssemblyCache final : public AssemblyCache {
 public:
  bool install(const std::string& path, bool forceRefresh) override {
    installed.push_back(path + (forceRefresh ? " (force)" : ""));
    return !failInstall;
  }
  bool uninstall(const std::string& displayName) override {
    removed.push_back(displayName);
    return true;
  }
  std::vector<std::string> installed, removed;
  bool failInstall = false;
};

TEST_F(NativeIntegrationTest, AssembliesGoToTheGlobalCacheOrTheTargetFolder) {
  auto cacheDouble = std::make_shared<RecordingAssemblyCache>();
  state().assemblyCache = cacheDouble;
  writeData("files\\Lib.dll", "assembly");
  const std::string displayName = "Lib, Version=1.0.0.0, Culture=neutral, PublicKeyToken=0123456789abcdef";
  load({{"Install Assembly", "", "TRUE", "$TARGET$"}, {"Install Assembly", "", "FALSE", "$TARGET$private"}},
       {{0, {{"files\\Lib.dll", displayName}}}, {1, {{"files\\Lib.dll", displayName}}}});
  runAll();
  EXPECT_EQ(cacheDouble->installed, std::vector<std::string>{data + "files\\Lib.dll"});
  EXPECT_EQ(read(target + "private\\Lib.dll"), "assembly");
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_EQ(cacheDouble->removed, std::vector<std::string>{displayName});
  EXPECT_FALSE(fileExists(target + "private\\Lib.dll"));

  // A refusal goes to the error question; ignoring it records nothing.
  cacheDouble->failInstall = true;
  set("NATIVE_ERROR", "IGNORE");
  set("NATIVE_OVERWRITE_OLDER", "TRUE");
  forgetRecords();
  runLine(1);
  EXPECT_EQ(cacheDouble->installed.back(), data + "files\\Lib.dll (force)");
  EXPECT_TRUE(records().empty());
}

TEST_F(NativeIntegrationTest, DataSourcesGoThroughTheDriversSetupLibrary) {
  const std::string driver = "Orvane DSN Driver " + std::to_string(GetTickCount64());
  const std::string dsn = "OrvaneDsn" + std::to_string(GetTickCount64());
  const std::string driverKey = "SOFTWARE\\ODBC\\ODBCINST.INI\\" + driver;
  // The driver registered in the view this build's ODBC reads.
  RegistryKey setup = RegistryKey::create(HKEY_LOCAL_MACHINE, driverKey, RegistryView::Bits64);
  setup.setString("Driver", selfRegLibrary());
  setup.setString("Setup", selfRegLibrary());
  RegistryKey::create(HKEY_LOCAL_MACHINE, "SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers", RegistryView::Bits64)
      .setString(driver, "Installed");
  set("DRIVER", driver);
  set("DSN", dsn);
  load({{"Create ODBC DSN", "$DSN$", "$DRIVER$", "FALSE", "Description=Test"}});
  auto recorded = [&] {
    const auto k = RegistryKey::open(HKEY_CURRENT_USER, "Software\\OrvaneTest\\SelfReg\\DSN", KEY_READ, RegistryView::Bits64);
    return k && k->hasValue(dsn);
  };
  runAll();
  EXPECT_TRUE(recorded());
  ASSERT_EQ(records().size(), 1u);
  EXPECT_EQ(records()[0].kind, "Remove ODBC DSN");
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_FALSE(recorded());
  RegistryKey::deleteTree(HKEY_LOCAL_MACHINE, driverKey, RegistryView::Bits64);
  LONG error = 0;
  if (auto k = RegistryKey::tryOpen(HKEY_LOCAL_MACHINE, "SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers", KEY_READ | KEY_WRITE,
                                    RegistryView::Bits64, error))
    k->removeValue(driver);
}

}  // namespace
}  // namespace orv::test
