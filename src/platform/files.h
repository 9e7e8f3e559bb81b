// File-system helpers over the wide API, taking UTF-8 paths.
#pragma once
#include <cstdint>
#include <string>

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

}  // namespace orv
