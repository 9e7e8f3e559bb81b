// Helpers the maintenance files share: registry locations, the instance's file names, list files and
// the cache folder's attributes.
#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

struct Engine;

inline constexpr std::string_view kIdentCacheKeyPrefix = "SOFTWARE\\Tessaly\\Orvane\\Ident.Cache\\";
inline constexpr std::string_view kUninstallKeyPrefix = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr std::string_view kBootstrapReason = "Bootstrap";
inline constexpr std::string_view kLoadReason = "LoadComponents";

// The default value of the product's Ident.Cache key under `root`; null when the key cannot be opened.
std::optional<std::string> identCacheValue(HKEY root, const std::string& productCode);
// The folder's last element, without trailing backslashes.
std::string lastFolderElement(std::string_view folder);
// A shell folder with a trailing backslash, or empty.
std::string shellFolderPath(int csidl);
// The registration root: HKLM for all users, else HKCU.
HKEY registrationRoot(Engine& engine);
// Base name of the instance's files (the program's, as MSIFILE carries it).
std::string instanceBaseName(Engine& engine);
// The installed instance's cached program by its uninstall entry ("UninstallString" of the key named
// by TITLE, without its quotes and arguments); in the "/p=" folder when the command line gave one.
// Empty when there is no entry.
std::string uninstallEntryProgram(Engine& engine, HKEY root);
// The files (not folders) in a folder matching the pattern, in listing order.
std::vector<std::string> filesIn(const std::string& folder, const char* pattern);

// Line lists beside the instance data (".par", ".lnk", ".lan").
bool readLinesFile(const std::string& path, std::vector<std::string>& lines);
bool writeLinesFile(const std::string& path, const std::vector<std::string>& lines);
// Writes beside the target and moves over it, so a failed write leaves the old file whole.
bool replaceFile(const std::string& path, const std::string& bytes);

// The cache folder's NTFS compression (LZNT1 or none) after ZORN_COMPRESS_INSTALLER_CACHE; failures
// (file systems without compression) are passed over.
void applyCacheCompression(Engine& engine, const std::string& folder);
void hideFolder(const std::string& folder);

void maintenanceTrace(Engine& engine, const std::string& text);
bool isTrueSetting(Engine& engine, std::string_view name);

}  // namespace orv
