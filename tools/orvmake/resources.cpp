#include "orvmake/resources.h"

#include <filesystem>
#include <stdexcept>

#include "core/text.h"

namespace orv::make {
namespace fs = std::filesystem;

std::vector<std::string> supportFileNames(const std::string& resourceFolder) {
  std::vector<std::string> names;
  if (resourceFolder.empty()) return names;
  std::error_code error;
  if (!fs::is_directory(resourceFolder, error)) throw std::runtime_error(resourceFolder + ": the resource folder does not exist");
  for (auto it = fs::recursive_directory_iterator(resourceFolder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error))
    if (it->is_regular_file()) names.push_back(fs::relative(it->path(), resourceFolder).generic_string());
  if (error) throw std::runtime_error(resourceFolder + ": cannot read the resource folder: " + error.message());
  return names;
}

void writeResourceArchive(const std::string& archivePath, const std::string& resourceFolder,
                          const std::vector<SupportFile>& generated, const PackProgressCallback& progress) {
  const std::vector<std::string> supportFiles = supportFileNames(resourceFolder);
  for (const SupportFile& file : generated)
    for (const std::string& name : supportFiles)
      if (equalsNoCase(name, file.name))
        throw std::runtime_error(resourceFolder + "/" + name + ": a support file has the name of a compiled page's file");
  std::vector<PackEntry> entries;
  if (!resourceFolder.empty()) entries = entriesOfFolder(resourceFolder, "");
  for (const SupportFile& file : generated) entries.push_back({file.name, {}, false, file.bytes});
  PackOptions options;
  options.fixedTime = sourceDateEpoch();
  options.progress = progress;
  try {
    writeArchive(archivePath, entries, options);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(std::string("cannot pack the resource archive: ") + e.what());
  }
}

}  // namespace orv::make
