// Registration and unregistration of an installed instance, and the removal of its cache folder.
#include <windows.h>

#include "bootstrap/engine.h"
#include "core/text.h"
#include "engines/maintenance.h"
#include "engines/maintenance_files.h"
#include "engines/native_state.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace orv {
namespace {

// The cache keeps its own copies; running from the cache already, a file is its own copy.
void copyIntoCache(Engine& e, const std::string& from, const std::string& to) {
  if (from.empty() || equalsNoCase(from, to)) return;
  setNormalAttributes(to);
  if (!copyFileOver(from, to)) maintenanceTrace(e, "      <EngineCache>" + from + " was not copied.</EngineCache>");
}

// The folder the instance's files came from, in its short form (empty when it is gone).
std::string shortDataFolder(Engine& e) {
  std::string folder = e.native && !e.native->sourceFolder.empty() ? e.native->sourceFolder : e.vars.getValue("DATADIR");
  if (folder.empty()) folder = e.startup.dataFolder;
  const std::wstring wide = widen(folder);
  const DWORD needed = GetShortPathNameW(wide.c_str(), nullptr, 0);
  if (needed == 0) return {};
  std::wstring shortPath(needed, L'\0');
  const DWORD written = GetShortPathNameW(wide.c_str(), shortPath.data(), needed);
  if (written == 0 || written >= needed) return {};
  shortPath.resize(written);
  return narrow(shortPath);
}

uint32_t versionPart(const std::string& version, size_t which) {
  const std::vector<std::string> parts = split(version, ".");
  if (which >= parts.size()) return 0;
  const int64_t n = toInt64Or(parts[which], 0);
  return n < 0 || n > int64_t(UINT32_MAX) ? 0 : uint32_t(n);
}

class EntryWriter {
 public:
  EntryWriter(Engine& e, HKEY root, const std::string& path) : e_(e), path_(path) {
    LONG error = 0;
    key_ = RegistryKey::tryCreate(root, path, RegistryView::Bits32, error);
    if (!key_) maintenanceTrace(e, "      <Registration>" + path + " cannot be created (" + std::to_string(error) + ").</Registration>");
  }
  void text(const std::string& name, const std::string& value) {
    if (key_ && key_->writeString(name, value) != ERROR_SUCCESS) failed(name);
  }
  void number(const std::string& name, uint32_t value) {
    if (key_ && key_->writeDword(name, value) != ERROR_SUCCESS) failed(name);
  }

 private:
  void failed(const std::string& name) {
    maintenanceTrace(e_, "      <Registration>" + path_ + "\\" + name + " was not written.</Registration>");
  }
  Engine& e_;
  std::string path_;
  std::optional<RegistryKey> key_;
};

void writeRegistryEntries(Engine& e, const std::string& folder) {
  const HKEY root = registrationRoot(e);
  const std::string productCode = e.vars.getValue("PRODUCTCODE");
  const std::string title = e.vars.getValue("TITLE");
  const std::string program = folder + fileNameOf(e.startup.programPath);
  const std::string version = e.vars.getValue("VERSION");
  const uint32_t major = versionPart(version, 0), minor = versionPart(version, 1);

  EntryWriter(e, root, std::string(kUninstallKeyPrefix) + productCode)
      .text("UninstallString", folder + instanceBaseName(e) + ".exe");

  EntryWriter entry(e, root, std::string(kUninstallKeyPrefix) + title);
  entry.text("DisplayIcon", program);
  entry.text("DisplayName", title);
  entry.text("UninstallString", "\"" + program + "\" REMOVE=TRUE MODIFY=FALSE");
  entry.text("ModifyPath", program);
  entry.text("Publisher", e.image.publisher);
  entry.text("Contact", e.image.contact);
  entry.text("HelpLink", e.image.helpLink);
  entry.text("URLUpdateInfo", e.image.updateInfoLink);
  entry.text("Comments", e.image.comments);
  entry.text("DisplayVersion", version);
  entry.number("VersionMajor", major);
  entry.number("VersionMinor", minor);
  entry.text("InstallLocation", e.vars.expandPath(e.vars.getValue("TARGETDIR")));

  EntryWriter ident(e, root, std::string(kIdentCacheKeyPrefix) + productCode);
  ident.number("VersionMajor", major);
  ident.number("VersionMinor", minor);
  ident.text("", folder);
}

void scheduleDeletion(const std::string& path) {
  MoveFileExW(widen(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

void registerInstance(Engine& e, const std::function<void()>& beforeEntries) {
  MaintenanceState& st = maintenanceState(e);
  const std::string folder = currentCacheFolder(e);
  const std::string base = instanceBaseName(e);
  const std::string productCode = e.vars.getValue("PRODUCTCODE");
  if (!createFolders(folder)) maintenanceTrace(e, "      <EngineCache>" + folder + " cannot be created.</EngineCache>");
  applyCacheCompression(e, folder);
  if (e.image.cachingMode == 2) writeWholeFile(folder + productCode, "");

  const std::string& programFolder = e.startup.programFolder;
  const std::string msi = fileExists(e.msiPath) ? e.msiPath : programFolder + base + ".msi";
  copyIntoCache(e, e.startup.programPath, folder + fileNameOf(e.startup.programPath));
  if (fileExists(msi)) copyIntoCache(e, msi, folder + base + ".msi");
  copyIntoCache(e, e.startup.resourceArchivePath, folder + base + ".res");
  copyIntoCache(e, programFolder + "orv.lib", folder + "orv.lib");
  if (fileExists(programFolder + "setup.bmp")) copyIntoCache(e, programFolder + "setup.bmp", folder + "setup.bmp");

  st.registeredDataFolder = shortDataFolder(e);
  if (!writeInstanceData(e, folder + base + ".dat", true, st.registeredDataFolder))
    maintenanceTrace(e, "      <EngineCache>" + folder + base + ".dat was not written.</EngineCache>");
  writeLinesFile(folder + base + ".par", st.propertyList);
  writeLinesFile(folder + base + ".lnk", st.pinList);
  if (const std::string language = e.vars.getValue("LANGUAGE"); !language.empty())
    writeLinesFile(folder + base + ".lan", {language});
  else
    DeleteFileW(widen(folder + base + ".lan").c_str());

  if (beforeEntries) beforeEntries();
  if (!st.removed) {
    writeRegistryEntries(e, folder);
    const InstanceIdentity identity{productCode, e.vars.getValue("REVISIONCODE"), e.vars.getValue("TITLE")};
    replaceFile(folder + "instance.dat", encodeInstanceFile(formatInstanceIdentity(identity), CP_ACP));
  }
  st.registered = true;
}

void unregisterInstance(Engine& e) {
  const std::string productCode = e.vars.getValue("PRODUCTCODE");
  const std::string title = e.vars.getValue("TITLE");
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    if (!title.empty()) RegistryKey::deleteTree(root, std::string(kUninstallKeyPrefix) + title, RegistryView::Bits32);
    // The product-code entry points at the removed cache as well; left behind it would name a program
    // that no longer exists.
    if (!productCode.empty()) {
      RegistryKey::deleteTree(root, std::string(kUninstallKeyPrefix) + productCode, RegistryView::Bits32);
      RegistryKey::deleteTree(root, std::string(kIdentCacheKeyPrefix) + productCode, RegistryView::Bits32);
    }
  }
}

void removeInstanceCache(Engine& e) {
  MaintenanceState& st = maintenanceState(e);
  const std::string folder = currentCacheFolder(e);
  if (e.image.cachingMode == 2) DeleteFileW(widen(folder + e.vars.getValue("PRODUCTCODE")).c_str());
  st.removed = true;
  if (deleteTree(folder) || !folderExists(folder)) return;
  // The running program keeps its folder: move it aside and let the next start delete it.
  std::string trimmed = folder;
  while (!trimmed.empty() && trimmed.back() == '\\') trimmed.pop_back();
  const std::string parent = folderOf(trimmed);
  std::string moved;
  for (int n = 0; moved.empty() || folderExists(moved) || fileExists(moved); ++n) moved = parent + "~" + std::to_string(n);
  if (!MoveFileExW(widen(trimmed).c_str(), widen(moved).c_str(), 0)) {
    maintenanceTrace(e, "      <EngineCache>" + folder + " could not be removed.</EngineCache>");
    return;
  }
  scheduleDeletion(moved + "\\" + fileNameOf(e.startup.programPath));
  scheduleDeletion(moved + "\\orv.lib");
  scheduleDeletion(moved);
}

}  // namespace orv
