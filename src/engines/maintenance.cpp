#include "engines/maintenance.h"

#include <windows.h>
#include <msi.h>
#include <shlobj.h>
#include <winioctl.h>

#include "bootstrap/engine.h"
#include "bootstrap/trace.h"
#include "core/text.h"
#include "engines/maintenance_files.h"
#include "engines/native_plan.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/libraries.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "platform/system.h"

namespace orv {
namespace {

class SystemInstallerProducts final : public InstallerProducts {
 public:
  int productState(const std::string& productCode) override {
    using Query = INSTALLSTATE(WINAPI*)(LPCWSTR);
    const auto query = systemFunction<Query>(L"msi.dll", "MsiQueryProductStateW");
    return query ? int(query(widen(productCode).c_str())) : int(INSTALLSTATE_UNKNOWN);
  }
  std::string packageCode(const std::string& productCode) override {
    using Info = UINT(WINAPI*)(LPCWSTR, LPCWSTR, LPWSTR, LPDWORD);
    const auto info = systemFunction<Info>(L"msi.dll", "MsiGetProductInfoW");
    if (!info) return {};
    wchar_t buffer[64] = {};
    DWORD size = 64;
    if (info(widen(productCode).c_str(), L"PackageCode", buffer, &size) != ERROR_SUCCESS) return {};
    return narrow(std::wstring_view(buffer, size));
  }
};

std::string parentFolder(const std::string& folder) {
  std::string f = folder;
  while (!f.empty() && f.back() == '\\') f.pop_back();
  return folderOf(f);
}

// The application data folder the cache lives under when nothing else names one (the engine runs on
// NT-family systems only, so the common program files folder of older systems has no use here).
std::string applicationDataRoot(bool allUsers) {
  std::string root = allUsers ? shellFolderPath(CSIDL_COMMON_APPDATA) : shellFolderPath(CSIDL_LOCAL_APPDATA);
  if (root.empty() && !allUsers) root = shellFolderPath(CSIDL_APPDATA);
  if (root.empty()) {
    const std::string desktop = shellFolderPath(CSIDL_DESKTOPDIRECTORY);
    if (!desktop.empty()) root = parentFolder(desktop) + "Application Data\\";
  }
  return root;
}

void defineLoaded(Engine& e, const std::string& name, const std::string& value) {
  e.vars.defineVariable(name, value, kLoadReason);
}

void remember(Engine& e, const std::string& name) {
  for (const std::string& known : e.persistentVariables)
    if (equalsNoCase(known, name)) return;
  e.persistentVariables.push_back(name);
}

void applyInstanceData(Engine& e, const InstanceData& data, InstanceLoadMode mode) {
  mergeComponents(e.components, data, mode);
  defineLoaded(e, "TARGETDIR", data.targetDir);
  defineLoaded(e, "ALLUSERS", data.allUsers);
  defineLoaded(e, "STARTMENU", data.startMenu);
  if (mode != InstanceLoadMode::Update) maintenanceState(e).previousDataFolder = data.dataFolder;
  for (const auto& [name, value] : data.variables) {
    defineLoaded(e, name, value);
    remember(e, name);
  }
  if (data.platform) setCurrentPlatform(e, *data.platform);
  for (const auto& [name, value] : data.settings) defineLoaded(e, name, value);
}

}  // namespace

std::shared_ptr<InstallerProducts> systemInstallerProducts() { return std::make_shared<SystemInstallerProducts>(); }

MaintenanceState& maintenanceState(Engine& engine) {
  if (!engine.maintenance) engine.maintenance = std::make_shared<MaintenanceState>();
  return *engine.maintenance;
}

// ---- shared helpers ----

std::optional<std::string> identCacheValue(HKEY root, const std::string& productCode) {
  try {
    const auto key = RegistryKey::open(root, std::string(kIdentCacheKeyPrefix) + productCode);
    if (!key) return std::nullopt;
    return key->getString("").value_or(std::string());
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string lastFolderElement(std::string_view folder) {
  std::string f(folder);
  while (!f.empty() && f.back() == '\\') f.pop_back();
  return fileNameOf(f);
}

std::string shellFolderPath(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)) || !buffer[0]) return {};
  return withTrailingBackslash(narrow(buffer));
}

HKEY registrationRoot(Engine& engine) {
  return isTrueSetting(engine, "ALLUSERS") ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::string instanceBaseName(Engine& engine) {
  const std::string msi = engine.msiPath.empty() ? engine.vars.getValue("MSIFILE") : engine.msiPath;
  const std::string base = withoutExtension(fileNameOf(msi));
  return base.empty() ? engine.startup.programBaseName : base;
}

std::vector<std::string> filesIn(const std::string& folder, const char* pattern) {
  std::vector<std::string> names;
  for (const FolderEntry& entry : folderEntries(withTrailingBackslash(folder) + pattern))
    if (!entry.isFolder()) names.push_back(entry.name);
  return names;
}

std::string uninstallEntryProgram(Engine& engine, HKEY root) {
  if (!engine.startup.cacheOverride.empty())
    return withTrailingBackslash(engine.startup.cacheOverride) + fileNameOf(engine.startup.programPath);
  try {
    const auto key = RegistryKey::open(root, std::string(kUninstallKeyPrefix) + engine.vars.getValue("TITLE"));
    if (!key) return {};
    std::string command = key->getString("UninstallString").value_or(std::string());
    if (const size_t open = command.find('"'); open != std::string::npos) command.erase(open, 1);
    if (const size_t close = command.find('"'); close != std::string::npos) command.erase(close);
    return command;
  } catch (const std::exception&) {
    return {};
  }
}

bool readLinesFile(const std::string& path, std::vector<std::string>& lines) {
  std::string bytes;
  if (!readWholeFile(path, bytes)) return false;
  lines = parseLines(decodeInstanceFile(bytes, CP_ACP));
  return true;
}

bool writeLinesFile(const std::string& path, const std::vector<std::string>& lines) {
  return replaceFile(path, encodeInstanceFile(formatLines(lines), CP_ACP));
}

bool replaceFile(const std::string& path, const std::string& bytes) {
  const std::string next = path + ".dat";
  if (!writeWholeFile(next, bytes)) {
    DeleteFileW(widen(next).c_str());
    return false;
  }
  setNormalAttributes(path);
  if (MoveFileExW(widen(next).c_str(), widen(path).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileW(widen(next).c_str());
  return false;
}

void applyCacheCompression(Engine& engine, const std::string& folder) {
  UniqueHandle handle = ownFileHandle(CreateFileW(widen(folder).c_str(), GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return;
  USHORT format = isTrueSetting(engine, "ZORN_COMPRESS_INSTALLER_CACHE") ? COMPRESSION_FORMAT_DEFAULT
                                                                         : COMPRESSION_FORMAT_NONE;
  DWORD returned = 0;
  DeviceIoControl(handle.get(), FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0, &returned, nullptr);
}

void hideFolder(const std::string& folder) {
  const std::wstring w = widen(folder);
  const DWORD attributes = GetFileAttributesW(w.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(w.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
}

void maintenanceTrace(Engine& engine, const std::string& text) {
  if (engine.trace) engine.trace->line(text);
}

bool isTrueSetting(Engine& engine, std::string_view name) { return isTrueText(engine.vars.getValue(name)); }

// ---- cache location ----

std::string instanceCacheRoot(Engine& engine, bool allUsers) {
  const std::string override = engine.vars.getValue("OVERRIDECACHE");
  if (!override.empty()) return withTrailingBackslash(override);
  const std::string productCode = engine.vars.getValue("PRODUCTCODE");
  std::optional<std::string> registered = identCacheValue(HKEY_LOCAL_MACHINE, productCode);
  if (!registered || registered->empty() || !folderExists(*registered))
    registered = identCacheValue(HKEY_CURRENT_USER, productCode);
  if (registered && !registered->empty() &&
      equalsNoCase(lastFolderElement(*registered), engine.vars.getValue("REVISIONCODE"))) {
    const std::string parent = parentFolder(*registered);
    if (!parent.empty()) return parent;
  }
  return applicationDataRoot(allUsers);
}

std::string instanceCacheFolder(Engine& engine, bool allUsers) {
  const MaintenanceState& st = maintenanceState(engine);
  const bool patching = engine.image.cachingMode == 3 && !st.installedRevision.empty();
  return instanceCacheRoot(engine, allUsers) + (patching ? st.installedRevision : engine.vars.getValue("REVISIONCODE")) +
         "\\";
}

std::string currentCacheFolder(Engine& engine) {
  return instanceCacheFolder(engine, isTrueSetting(engine, "ALLUSERS"));
}

bool cacheAllUsersFlag(Engine& engine) {
  const std::string perUser = instanceCacheRoot(engine, false) + engine.vars.getValue("REVISIONCODE") + "\\" +
                              instanceBaseName(engine) + ".dat";
  if (!fileExists(perUser)) return true;
  return isValidEngineCache(folderOf(engine.msiPath));
}

std::string validCacheInstanceData(const std::string& folder) {
  if (folder.empty() || !fileExists(withTrailingBackslash(folder) + "orv.lib")) return {};
  const std::string f = withTrailingBackslash(folder);
  for (const std::string& name : filesIn(f, "*.dat")) {
    const std::string base = f + withoutExtension(name);
    if (fileExists(base + ".exe") && fileExists(base + ".res") && fileExists(base + ".par")) return f + name;
  }
  return {};
}

// ---- instance data ----

LoadOutcome loadInstanceData(Engine& engine, const std::string& path, InstanceLoadMode mode) {
  std::string file = path;
  if (!fileExists(file)) {
    if (mode == InstanceLoadMode::Update) return LoadOutcome::Missing;
    file = validCacheInstanceData(folderOf(path));
    if (file.empty()) return LoadOutcome::Missing;
  }
  std::string bytes;
  if (!readWholeFile(file, bytes)) {
    maintenanceTrace(engine, "      <InstanceData>" + file + " cannot be read.</InstanceData>");
    return LoadOutcome::Malformed;
  }
  InstanceData data;
  try {
    data = parseInstanceData(decodeInstanceFile(bytes, CP_ACP));
  } catch (const InstanceDataError& error) {
    maintenanceTrace(engine, "      <InstanceData>" + file + ": " + error.what() + "</InstanceData>");
    return LoadOutcome::Malformed;
  }
  applyInstanceData(engine, data, mode);
  return LoadOutcome::Loaded;
}

bool writeInstanceData(Engine& engine, const std::string& path, bool full, const std::string& dataFolderLine) {
  std::vector<NamedValue> remembered;
  for (const std::string& name : engine.persistentVariables)
    if (engine.vars.exists(name)) remembered.emplace_back(name, engine.vars.getValue(name));
  const std::string platform = currentPlatform(engine);
  std::string text;
  try {
    if (full) {
      const ComponentLists& c = engine.components;
      InstanceData data{c.names, c.states, c.deleted, c.hidden, c.fixed, c.sizes,
                        engine.vars.getValue("TARGETDIR"), engine.vars.getValue("ALLUSERS"),
                        engine.vars.getValue("STARTMENU"), dataFolderLine, std::move(remembered), platform,
                        {{"OVERRIDECACHE", engine.vars.getValue("OVERRIDECACHE")},
                         {"NATIVE_ENGINE", engine.vars.getValue("NATIVE_ENGINE")}}};
      data.states.resize(data.names.size());
      text = formatInstanceData(data);
    } else {
      std::string bytes;
      if (!fileExists(path)) return true;
      if (!readWholeFile(path, bytes)) return false;
      text = updatedInstanceData(decodeInstanceFile(bytes, CP_ACP), remembered, platform,
                                 engine.vars.getValue("OVERRIDECACHE"), engine.vars.getValue("NATIVE_ENGINE"));
    }
  } catch (const InstanceDataError& error) {
    maintenanceTrace(engine, "      <InstanceData>" + path + ": " + error.what() + "</InstanceData>");
    return false;
  }
  return replaceFile(path, encodeInstanceFile(text, CP_ACP));
}

}  // namespace orv
