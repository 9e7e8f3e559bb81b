#include "orvmake/resources.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "core/text.h"

namespace orv::make {
namespace fs = std::filesystem;

StagingFolder::StagingFolder() {
  std::string pattern = (fs::temp_directory_path() / "orvmake-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
  path_ = pattern;
}

StagingFolder::~StagingFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

int runIn(const fs::path& folder, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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
                          const std::vector<SupportFile>& generated, const std::string& sevenZip) {
  const std::vector<std::string> supportFiles = supportFileNames(resourceFolder);
  for (const SupportFile& file : generated)
    for (const std::string& name : supportFiles)
      if (equalsNoCase(name, file.name))
        throw std::runtime_error(resourceFolder + "/" + name + ": a support file has the name of a compiled page's file");
  StagingFolder stage;
  std::error_code error;
  if (!resourceFolder.empty()) fs::copy(resourceFolder, stage.path(), fs::copy_options::recursive, error);
  if (error) throw std::runtime_error(resourceFolder + ": cannot copy the support files: " + error.message());
  for (const SupportFile& file : generated) {
    std::ofstream out(stage.path() / file.name, std::ios::binary | std::ios::trunc);
    if (!out.write(file.bytes.data(), static_cast<std::streamsize>(file.bytes.size())))
      throw std::runtime_error(file.name + ": cannot write the page into the temporary folder");
  }
  const std::string target = fs::absolute(archivePath).string();
  const int code = runIn(stage.path(), {sevenZip, "a", "-t7z", "-m0=lzma2", "-bd", "-bso0", "-bsp0", "-y", target, "."});
  if (code != 0) {
    fs::remove(target, error);
    throw std::runtime_error(code == 127 || code < 0 ? "cannot run " + sevenZip + " to pack the resource archive"
                                                     : sevenZip + " could not pack the resource archive (exit code " +
                                                           std::to_string(code) + ")");
  }
}

}  // namespace orv::make
