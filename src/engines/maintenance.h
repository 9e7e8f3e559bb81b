// The engine cache of an installed instance and its maintenance registration: where the cache lives,
// the bootstrap that tells a first installation from maintenance and upgrades, loading and writing the
// instance data, and the registration and unregistration "Apply Changes" runs when it succeeds.
//
// The engine behaves as the 32-bit program on 64-bit Windows: its registry entries live in the 32-bit
// view and the program files folder is the 32-bit one, so a 64-bit build and a 32-bit build of the same
// setup find each other's instances.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/instance_data.h"

namespace orv {

struct Engine;

// Windows Installer's knowledge of a product (msi.dll, loaded on first use); tests put a stand-in here.
class InstallerProducts {
 public:
  virtual ~InstallerProducts() = default;
  virtual int productState(const std::string& productCode) = 0;        // INSTALLSTATE; 5 installed
  virtual std::string packageCode(const std::string& productCode) = 0;  // empty when unknown
};
std::shared_ptr<InstallerProducts> systemInstallerProducts();

struct MaintenanceState {
  std::vector<std::string> propertyList;  // ".par": name and value lines of the Windows Installer mode
  std::vector<std::string> pinList;       // ".lnk": the shortcut commands' pin list
  std::string previousDataFolder;         // line 10 of the instance data loaded at start
  std::string otherInstanceData;          // an instance data file of the registered (older) revision
  std::string appliedOverride;            // the OVERRIDECACHE value the bootstrap ran with last
  std::string installedRevision;          // caching mode 3: the installed instance's cache folder name
  std::string registeredDataFolder;       // line 10 of the instance data written at registration
  bool sizesSeeded = false;               // the size table starts as the image's, once per process
  bool registered = false;                // registered in this run
  bool removed = false;                   // the instance's cache was removed in this run
  bool newInstance = false;               // "Transform Instance" gave the instance new codes
  std::shared_ptr<InstallerProducts> installer;  // null: the system's
};
MaintenanceState& maintenanceState(Engine& engine);

// Cache location.
// EngineCacheRoot: OVERRIDECACHE, else the parent of the Ident.Cache folder when that folder is this
// revision's, else the application data folder (common for all users); with a trailing backslash.
std::string instanceCacheRoot(Engine& engine, bool allUsers);
// Root + revision code + "\" (the installed instance's folder name with caching mode 3).
std::string instanceCacheFolder(Engine& engine, bool allUsers);
// The all-users flag of the bootstrap: false only when a per-user instance data file exists and the
// Windows Installer database does not lie in a valid engine cache folder.
bool cacheAllUsersFlag(Engine& engine);
// "orv.lib" and some X.dat with X.exe, X.res and X.par; the first such X.dat, or empty.
std::string validCacheInstanceData(const std::string& folder);
inline bool isValidEngineCache(const std::string& folder) { return !validCacheInstanceData(folder).empty(); }
// The instance's cache folder for ALLUSERS as it stands now.
std::string currentCacheFolder(Engine& engine);

// Instance data. A file that cannot be read or is malformed loads nothing (the reason goes to the phase
// trace) and stays as it is.
enum class LoadOutcome { Loaded, Missing, Malformed };
LoadOutcome loadInstanceData(Engine& engine, const std::string& path, InstanceLoadMode mode);
// Full form (line 10 = dataFolderLine) or update form (nothing happens without an existing file). False
// when the file could not be written; an existing file is then left as it was.
bool writeInstanceData(Engine& engine, const std::string& path, bool full, const std::string& dataFolderLine = {});

// Bootstrap: identity, cache folder, data folder, MAINTENANCE, NEEDSUPGRADE, NATIVE_OLDLOG,
// RECOMMENDEDUPGRADE, NEWINSTANCE and the remembered choices.
void runInstanceBootstrap(Engine& engine);

// "Transform Instance": a setup started again beside an installed instance (NEWINSTANCE "TRUE") becomes
// a new instance of the product: new product and revision codes, then the bootstrap again. Nothing
// happens without NEWINSTANCE or when a patch (base name + ".msp") lies beside the setup.
void transformInstance(Engine& engine);

// Registration, as "Apply Changes" runs it after an install, repair or advertisement: cache folder and
// copies, instance data in full, ".par", ".lnk" and ".lan"; then `beforeEntries` (the native engine's
// pin job and undo-log flush); then, unless the instance was removed in this run, the uninstall and
// Ident.Cache entries and "instance.dat". Copy and registry failures are traced and passed over.
void registerInstance(Engine& engine, const std::function<void()>& beforeEntries = {});
// Unregistration after a removal: the uninstall entries and the Ident.Cache entry under both roots.
void unregisterInstance(Engine& engine);
// Removal of the cache folder (the removal path of "Apply Changes", after the native log has been put
// aside): the cached-sources marker, the folder's contents and the folder; a folder the running program
// keeps alive is moved aside to "~N" and deleted at the next start. Marks the instance removed.
void removeInstanceCache(Engine& engine);

}  // namespace orv
