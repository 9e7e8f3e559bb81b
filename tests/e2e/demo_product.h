// The demo product as orvmake builds it (examples/demo), shared by its silent end-to-end test and the
// wizard walk: where its setup folder comes from, the traces it leaves on the machine, and the check
// that its removal left none of them.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/text.h"
#include "e2e/harness.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "support/windows_test.h"

namespace orv::test::demo {

constexpr const char* kTitle = "Orvane Demo";
constexpr const char* kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Demo";
constexpr const char* kIdentCache = "SOFTWARE\\Tessaly\\Orvane\\Ident.Cache";
constexpr const char* kPublisherKey = "Software\\Orvane Samples";
constexpr const char* kProductKey = "Software\\Orvane Samples\\Orvane Demo";

inline std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The folder orvmake built the demo into (ORV_DEMO_SETUP, a host path); empty when not given.
inline std::string builtSetupFolder() { return environment("ORV_DEMO_SETUP"); }

inline std::string startMenuFolder() {
  return environment("ALLUSERSPROFILE") + "\\Microsoft\\Windows\\Start Menu\\Programs\\Orvane Demo\\";
}

// Copies the built demo (setup, resources, media block, archive library) into `folder`.
inline void copySetup(const std::string& folder) {
  createFolders(folder);
  for (const char* name : {"setup.exe", "setup.res", "DEMO.7zip", "orv.lib"})
    ASSERT_TRUE(copyFileOver(hostPath(builtSetupFolder()) + "\\" + name, folder + name)) << name;
}

// The program named at the start of an uninstall command line (between its first two quotes).
inline std::string programOf(const std::string& commandLine) {
  if (commandLine.empty() || commandLine[0] != '"') return {};
  const size_t end = commandLine.find('"', 1);
  return end == std::string::npos ? std::string() : commandLine.substr(1, end - 1);
}

inline std::string parentOf(std::string folder) {
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folderOf(folder);
}

inline std::string uninstallString() {
  const auto entry = RegistryKey::open(HKEY_LOCAL_MACHINE, kUninstallKey);
  return entry ? entry->getString("UninstallString").value_or("") : std::string();
}

// Cache folders moved aside while their program ran, waiting for the next start.
inline std::vector<std::string> movedCaches(const std::string& cacheFolder) {
  std::vector<std::string> found;
  if (cacheFolder.empty()) return found;
  const std::string parent = parentOf(cacheFolder);
  for (const FolderEntry& entry : folderEntries(parent + "~*")) found.push_back(parent + entry.name);
  return found;
}

// What a removal left of the product: the target folder, the start-menu folder, its registry values,
// the uninstall entry, an Ident.Cache entry naming the cache, the cache folder.
inline std::vector<std::string> leftovers(const std::string& target, const std::string& cacheFolder,
                                          bool publisherKeyBefore) {
  std::vector<std::string> left;
  if (folderExists(target)) left.push_back("installation folder " + target);
  if (folderExists(startMenuFolder())) left.push_back("start-menu folder");
  if (RegistryKey::exists(HKEY_LOCAL_MACHINE, kProductKey)) left.push_back(kProductKey);
  if (RegistryKey::exists(HKEY_LOCAL_MACHINE, kPublisherKey) != publisherKeyBefore) left.push_back(kPublisherKey);
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    if (RegistryKey::exists(root, kUninstallKey)) left.push_back("uninstall entry");
    const auto ident = RegistryKey::open(root, kIdentCache);
    if (!ident) continue;
    for (const std::string& product : ident->subkeyNames())
      if (const auto key = RegistryKey::open(root, std::string(kIdentCache) + "\\" + product))
        if (!cacheFolder.empty() && key->getString("").value_or("").find(cacheFolder) != std::string::npos)
          left.push_back("Ident.Cache entry " + product);
  }
  if (!cacheFolder.empty() && folderExists(cacheFolder)) left.push_back("engine cache " + cacheFolder);
  return left;
}

// Puts the machine back after a failed case, so the next one starts clean.
inline void forceRemoval(const std::string& cacheFolder) {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    RegistryKey::deleteTree(root, kUninstallKey, RegistryView::Bits32);
    RegistryKey::deleteTree(root, kProductKey, RegistryView::Bits32);
  }
  deleteTree(startMenuFolder());
  if (!cacheFolder.empty()) deleteTree(cacheFolder);
  for (const std::string& moved : movedCaches(cacheFolder)) deleteTree(moved);
}

}  // namespace orv::test::demo
