// File-system helpers over the wide API, taking UTF-8 paths.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace orv {

bool readWholeFile(const std::string& path, std::string& bytes);
bool writeWholeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);    // a file, not a folder
bool folderExists(const std::string& path);
bool createFolders(const std::string& path);  // with every missing parent
// Empties and removes a folder tree (read-only attributes cleared first); true when it is gone.
bool deleteTree(const std::string& path);
bool copyFileOver(const std::string& from, const std::string& to);
bool setNormalAttributes(const std::string& path);
int64_t fileSize(const std::string& path);  // -1 when missing

// One entry of a folder listing.
struct FolderEntry {
  std::string name;
  uint32_t attributes = 0;
  bool isFolder() const { return (attributes & 0x10) != 0; }     // FILE_ATTRIBUTE_DIRECTORY
  bool isLink() const { return (attributes & 0x400) != 0; }      // FILE_ATTRIBUTE_REPARSE_POINT
};
// The entries matching a pattern ("C:\folder\*", "C:\parent\~*"), without "." and ".."; empty when
// nothing matches or the folder is missing.
std::vector<FolderEntry> folderEntries(const std::string& pattern);

}  // namespace orv
