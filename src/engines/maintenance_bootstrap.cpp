// The instance bootstrap of the prologue and the seams the interpreter calls before lines: the cache
// override, the per-line refresh of UNINSTALLLINK and ENGINECACHE, and the resume-entry cleanup.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <stdexcept>

#include "bootstrap/engine.h"
#include "core/text.h"
#include "engines/maintenance.h"
#include "engines/maintenance_files.h"
#include "engines/undo_log.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "platform/system.h"
#include "script/run_hooks.h"

namespace orv {
namespace {

constexpr int kInstalled = 5;  // INSTALLSTATE_DEFAULT

void define(Engine& e, std::string_view name, std::string_view value, std::string_view reason = kBootstrapReason) {
  e.vars.defineVariable(name, value, reason);
}

InstallerProducts& installer(Engine& e) {
  MaintenanceState& st = maintenanceState(e);
  if (!st.installer) st.installer = systemInstallerProducts();
  return *st.installer;
}

bool compilerFlag(const Engine& e, std::string_view name) {
  if (!e.index) return false;
  return equalsNoCase(expandCompilerConstants("#" + std::string(name) + "#", e.index->compilerConstants()), "TRUE");
}

bool nativeLogAt(const std::string& folder, const std::string& productCode) {
  return !folder.empty() && undoLogFilesExist(withTrailingBackslash(folder) + productCode);
}

// Step 1: "instance.dat" beside the program names the instance (a cached engine keeps its identity).
void readIdentity(Engine& e) {
  std::string productCode = e.image.productCode, revisionCode = e.image.revisionCode;
  std::string bytes;
  if (readWholeFile(e.startup.programFolder + "instance.dat", bytes)) {
    if (auto id = parseInstanceIdentity(decodeInstanceFile(bytes, CP_ACP))) {
      productCode = id->productCode;
      revisionCode = id->revisionCode;
      define(e, "TITLE", id->title);
    } else {
      maintenanceTrace(e, "      <InstanceData>instance.dat holds no product and revision code.</InstanceData>");
    }
  }
  define(e, "PRODUCTCODE", productCode);
  define(e, "REVISIONCODE", revisionCode);
}

std::string title(Engine& e) { return e.vars.exists("TITLE") ? e.vars.getValue("TITLE") : e.image.title; }

// Step 2: the program files folder for an administrator (the 32-bit one on 64-bit Windows, as the
// 32-bit engine sees it), else the parent of the user's documents folder.
std::string defaultTargetFolder(Engine& e) {
  std::string base;
  if (isAdministrator()) {
    base = shellFolderPath(is64BitWindows() ? CSIDL_PROGRAM_FILESX86 : CSIDL_PROGRAM_FILES);
  } else if (std::string documents = shellFolderPath(CSIDL_PERSONAL); !documents.empty()) {
    documents.pop_back();
    base = folderOf(documents);
  }
  return base + title(e) + "\\";
}

// Step 5: the native engine's logs under this revision's Ident.Cache folder, or Windows Installer.
bool productInstalled(Engine& e, const std::string& cacheFolder) {
  const std::string productCode = e.vars.getValue("PRODUCTCODE");
  if (nativeLogAt(cacheFolder, productCode)) {
    std::optional<std::string> folder = identCacheValue(HKEY_LOCAL_MACHINE, productCode);
    if (!folder || folder->empty() || !folderExists(*folder)) folder = identCacheValue(HKEY_CURRENT_USER, productCode);
    if (folder && equalsNoCase(lastFolderElement(*folder), e.vars.getValue("REVISIONCODE"))) return true;
  }
  return installer(e).productState(productCode) == kInstalled;
}

// Step 6: installed through Windows Installer with another package.
bool needsUpgrade(Engine& e, bool installed) {
  if (!installed) return false;
  const std::string productCode = e.vars.getValue("PRODUCTCODE");
  if (installer(e).productState(productCode) != kInstalled) return false;
  const std::string packageCode = installer(e).packageCode(productCode);
  return !packageCode.empty() && lower(packageCode) != lower(e.vars.getValue("REVISIONCODE"));
}

void loadListFile(const std::string& path, std::vector<std::string>& list) {
  std::vector<std::string> lines;
  if (readLinesFile(path, lines)) list = std::move(lines);
}

// The registered instance of this product (this or another revision), by its Ident.Cache entries.
struct RegisteredInstance {
  std::string folder;
  std::string instanceData;
  std::string pinList;
};

std::string instanceDataIn(const std::string& folder, std::string& pinList) {
  std::vector<std::string> candidates;
  for (const std::string& name : filesIn(folder, "*.dat"))
    if (!equalsNoCase(name, "instance.dat")) candidates.push_back(name);
  std::string chosen;
  if (candidates.size() == 1) {
    chosen = candidates.front();
  } else {
    for (const std::string& name : candidates) {
      const std::string base = folder + withoutExtension(name);
      if (fileExists(base + ".exe") && fileExists(base + ".res") && fileExists(base + ".par")) {
        chosen = name;
        break;
      }
    }
  }
  if (chosen.empty()) return {};
  const std::string lnk = folder + withoutExtension(chosen) + ".lnk";
  if (fileExists(lnk)) pinList = lnk;
  return folder + chosen;
}

// Step 10: the machine entry wins when its folder exists and holds the native logs, or the user entry's
// folder holds none.
RegisteredInstance findRegisteredInstance(Engine& e) {
  const std::string productCode = e.vars.getValue("PRODUCTCODE");
  const std::optional<std::string> machine = identCacheValue(HKEY_LOCAL_MACHINE, productCode);
  const std::string user = identCacheValue(HKEY_CURRENT_USER, productCode).value_or(std::string());
  const bool machineChosen = machine && !machine->empty() && folderExists(*machine) &&
                             (nativeLogAt(*machine, productCode) || !nativeLogAt(user, productCode));
  RegisteredInstance found;
  found.folder = machineChosen ? *machine : user;
  if (!found.folder.empty()) found.folder = withTrailingBackslash(found.folder);
  if (!found.folder.empty() && folderExists(found.folder))
    found.instanceData = instanceDataIn(found.folder, found.pinList);
  return found;
}

void firstInstallation(Engine& e, const std::string& cacheFolder) {
  MaintenanceState& st = maintenanceState(e);
  e.components.clearKeepingSizes();
  e.components.define(kPredefinedComponent, "", true);
  st.propertyList.clear();
  define(e, "TARGETDIR", defaultTargetFolder(e));
  define(e, "STARTMENU", title(e));
  define(e, "ALLUSERS", boolText(isAdministrator()));
  loadInstanceData(e, cacheFolder + instanceBaseName(e) + ".dat", InstanceLoadMode::Full);
}

void maintenanceStart(Engine& e) {
  MaintenanceState& st = maintenanceState(e);
  const std::string folder = instanceCacheFolder(e, cacheAllUsersFlag(e));
  const std::string base = folder + instanceBaseName(e);
  // The bootstrap runs again after a cache override: the lists start over instead of doubling.
  e.components.clearKeepingSizes();
  loadInstanceData(e, base + ".dat", InstanceLoadMode::Full);
  e.components.define(kPredefinedComponent, "", true);
  e.components.installedSize = e.components.selectedSize();
  loadListFile(base + ".lnk", st.pinList);
  loadListFile(base + ".par", st.propertyList);
}

}  // namespace

void runInstanceBootstrap(Engine& e) {
  MaintenanceState& st = maintenanceState(e);
  if (!st.sizesSeeded) {
    e.components.sizes = e.image.componentSizes;
    st.sizesSeeded = true;
  }
  readIdentity(e);
  const std::string cacheFolder = instanceCacheFolder(e, isTrueSetting(e, "ALLUSERS"));
  define(e, "UNINSTALLLINK", cacheFolder + fileNameOf(e.startup.programPath));
  define(e, "ENGINECACHE", cacheFolder);
  define(e, "DATADIR", e.image.cachingMode == 2 ? cacheFolder : e.startup.dataFolder);

  const bool installed = productInstalled(e, cacheFolder);
  const bool upgrade = needsUpgrade(e, installed);
  define(e, "NEEDSUPGRADE", boolText(upgrade));
  const bool loadOldData = upgrade && compilerFlag(e, "LOADOLDDATA");
  const bool maintenance = !upgrade && installed;
  define(e, "MAINTENANCE", boolText(maintenance));
  if (maintenance)
    maintenanceStart(e);
  else
    firstInstallation(e, cacheFolder);

  const RegisteredInstance registered = findRegisteredInstance(e);
  std::string oldLog;
  if (nativeLogAt(registered.folder, e.vars.getValue("PRODUCTCODE")) &&
      !equalsNoCase(lastFolderElement(registered.folder), e.vars.getValue("REVISIONCODE")))
    oldLog = registered.folder + e.vars.getValue("PRODUCTCODE");
  define(e, "NATIVE_OLDLOG", oldLog);
  bool oldDataLoaded = false;
  if (loadOldData && !registered.instanceData.empty())
    oldDataLoaded = loadInstanceData(e, registered.instanceData, InstanceLoadMode::OldData) == LoadOutcome::Loaded;
  st.otherInstanceData = registered.instanceData;
  if (!registered.pinList.empty()) loadListFile(registered.pinList, st.pinList);
  define(e, "RECOMMENDEDUPGRADE", boolText(!oldLog.empty()));
  if (!oldLog.empty() && !oldDataLoaded && compilerFlag(e, "LOADOLDDATA") && !registered.instanceData.empty())
    loadInstanceData(e, registered.instanceData, InstanceLoadMode::OldData);

  define(e, "NEWINSTANCE", "FALSE", "Initialization");
  if (!fileExists(e.startup.programFolder + "instance.dat") && (maintenance || upgrade))
    define(e, "NEWINSTANCE", "TRUE", "Initialization");
}

namespace {

std::string newGuidText() {
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) throw std::runtime_error("no new identifier could be made");
  char text[40];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

}  // namespace

void transformInstance(Engine& e) {
  if (!isTrueSetting(e, "NEWINSTANCE")) return;
  if (fileExists(e.startup.programFolder + e.startup.programBaseName + ".msp")) return;
  // The image's codes are where the bootstrap takes the identity from (no "instance.dat" lies beside
  // the program, or NEWINSTANCE would not be "TRUE").
  e.image.productCode = newGuidText();
  e.image.revisionCode = newGuidText();
  maintenanceState(e).newInstance = true;
  maintenanceTrace(e, "      <NewInstance>" + e.image.productCode + " " + e.image.revisionCode + "</NewInstance>");
  runInstanceBootstrap(e);
}

// ---- interpreter seams ----

void bootstrapMaintenance(Engine& engine) {
  maintenanceState(engine).appliedOverride = engine.vars.getValue("OVERRIDECACHE");
  try {
    runInstanceBootstrap(engine);
  } catch (const std::exception& failure) {  // the run goes on as a first installation would
    maintenanceTrace(engine, std::string("      <BootStrapError>") + failure.what() + "</BootStrapError>");
  }
}

void removeResumeEntries(Engine& engine) {
  const std::string productCode = engine.vars.getValue("PRODUCTCODE");
  if (productCode.size() < 9) return;
  const std::string valueName = productCode.substr(1, 8);
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    for (const char* key : {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\",
                            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\"}) {
      LONG error = 0;
      if (auto opened = RegistryKey::tryOpen(root, key, KEY_READ | KEY_SET_VALUE, RegistryView::Bits32, error))
        opened->removeValue(valueName);
    }
}

void applyCacheOverride(Engine& engine, std::string_view folder) {
  MaintenanceState& st = maintenanceState(engine);
  if (folder.empty() || folder == st.appliedOverride) return;
  // The folder is made only to prove it can be; what did not exist before goes again afterwards.
  std::vector<std::string> created;
  for (std::string f = std::string(folder); !f.empty();) {
    while (!f.empty() && f.back() == '\\') f.pop_back();
    if (f.empty() || folderExists(f) || f.back() == ':') break;
    created.push_back(f);
    const size_t sep = f.rfind('\\');
    if (sep == std::string::npos) break;
    f.resize(sep);
  }
  if (!createFolders(std::string(folder))) {
    for (const std::string& f : created) RemoveDirectoryW(widen(f).c_str());
    // Given on the command line of a silent run, the value is protected against the script; the reset
    // takes the command line's own reason so an unusable folder never stays the cache root.
    engine.vars.defineVariable("OVERRIDECACHE", "", kInjectReason);
    st.appliedOverride.clear();
    return;
  }
  const std::string applied = withTrailingBackslash(folder);
  engine.vars.defineVariable("OVERRIDECACHE", applied, kInjectReason);
  st.appliedOverride = applied;
  runInstanceBootstrap(engine);
  for (const std::string& f : created) RemoveDirectoryW(widen(f).c_str());  // deepest first
}

void refreshMaintenanceLinks(Engine& engine) {
  std::string link, cache;
  if (engine.image.cachingMode == 3) {
    const HKEY root = isTrueSetting(engine, "ALLUSERS") ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    link = uninstallEntryProgram(engine, root);
    cache = folderOf(link);
  } else {
    cache = currentCacheFolder(engine);
    link = cache + fileNameOf(engine.startup.programPath);
  }
  if (engine.vars.getValue("UNINSTALLLINK") != link || !engine.vars.exists("UNINSTALLLINK"))
    engine.vars.defineVariable("UNINSTALLLINK", link, "Initialization");
  if (engine.vars.getValue("ENGINECACHE") != cache || !engine.vars.exists("ENGINECACHE"))
    engine.vars.defineVariable("ENGINECACHE", cache, "Initialization");
}

}  // namespace orv
