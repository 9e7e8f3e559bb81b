// orvmake PROJECT --stub orvstub.exe --out FOLDER [--name setup]
// Builds FOLDER/setup.exe (the engine with the image appended), FOLDER/setup.res (the support files
// and the compiled wizard pages) and FOLDER/<block>.7zip for every media block from a project file.
// Everything is checked before anything is written, and the files appear together or not at all.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "orvmake/media.h"
#include "orvmake/pages.h"
#include "orvmake/project.h"
#include "orvmake/resources.h"

namespace {

namespace fs = std::filesystem;

int usage() {
  std::fprintf(stderr, "usage: orvmake PROJECT --stub ENGINE.exe --out FOLDER [--name setup]\n");
  return 2;
}

bool readFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream o(path, std::ios::binary | std::ios::trunc);
  if (!o.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !o.flush())
    throw std::runtime_error(path + ": cannot write");
}

// Removes the temporary files of a build that did not finish.
struct PendingFiles {
  std::vector<std::string> paths;
  ~PendingFiles() {
    std::error_code ignored;
    for (const std::string& p : paths) fs::remove(p, ignored);
  }
};

int build(const std::string& projectPath, const std::string& stub, const std::string& out, const std::string& name) {
  using namespace orv::make;
  Project project = readProject(projectPath);
  planMedia(project);
  const std::vector<SupportFile> pages = compilePages(project);
  std::vector<std::string> supportNames = supportFileNames(project.resourceFolder);
  for (const SupportFile& page : pages) supportNames.push_back(page.name);
  checkDialogLines(project, supportNames);

  std::string bytes;
  if (!readFile(stub, bytes)) throw std::runtime_error(stub + ": cannot read the engine program");
  bytes += orv::writeImage(project.image);

  if (!fs::is_directory(out)) throw std::runtime_error(out + ": the output folder does not exist");
  const std::string exe = out + "/" + name + ".exe", res = out + "/" + name + ".res";
  PendingFiles pending;
  const bool withArchive = !supportNames.empty();
  if (withArchive) {
    pending.paths.push_back(res + ".part");
    fs::remove(res + ".part");
    writeResourceArchive(res + ".part", project.resourceFolder, pages);
  }
  std::vector<std::string> blockArchives;
  for (const MediaBlock& block : project.mediaBlocks) {
    const std::string archive = out + "/" + mediaArchiveName(block);
    pending.paths.push_back(archive + ".part");
    fs::remove(archive + ".part");
    writeMediaArchive(block, archive + ".part");
    blockArchives.push_back(archive);
  }
  pending.paths.push_back(exe + ".part");
  writeFile(exe + ".part", bytes);
  fs::rename(exe + ".part", exe);
  if (withArchive) fs::rename(res + ".part", res);
  else fs::remove(res);  // an archive of an earlier build would be taken for this one's
  for (const std::string& archive : blockArchives) fs::rename(archive + ".part", archive);
  std::printf("%s: %zu script lines, %zu bytes; %zu pages, %zu support files, %zu media blocks (%zu files)\n", exe.c_str(),
              project.image.lineCount(), bytes.size(), project.pages.size(), supportNames.size() - pages.size(),
              project.mediaBlocks.size(), project.image.mediaFiles.size() / 3);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string project, stub, out, name = "setup";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--stub" || a == "--out" || a == "--name") && i + 1 < argc) {
      (a == "--stub" ? stub : a == "--out" ? out : name) = argv[++i];
    } else if (project.empty() && a.rfind("--", 0) != 0) {
      project = a;
    } else {
      return usage();
    }
  }
  if (project.empty() || stub.empty() || out.empty()) return usage();
  if (name.empty() || name.find('/') != std::string::npos) return usage();
  try {
    return build(project, stub, out, name);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvmake: %s\n", e.what());
    return 1;
  }
}
