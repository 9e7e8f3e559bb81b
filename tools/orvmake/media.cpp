#include "orvmake/media.h"

#include <fnmatch.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "core/text.h"
#include "orvmake/resources.h"

namespace orv::make {
namespace fs = std::filesystem;
namespace {

struct BlockFile {
  std::string path;  // relative to the block's folder, "\" separated
  uint64_t size = 0;
};

std::vector<BlockFile> filesOf(const MediaBlock& block) {
  std::error_code error;
  if (!fs::is_directory(block.folder, error))
    throw ProjectError(block.at.file, block.at.line, block.folder + ": the media folder does not exist");
  std::vector<BlockFile> files;
  for (auto it = fs::recursive_directory_iterator(block.folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (!it->is_regular_file()) continue;
    std::string relative = fs::relative(it->path(), block.folder).generic_string();
    std::replace(relative.begin(), relative.end(), '/', '\\');
    files.push_back({relative, it->file_size()});
  }
  if (error) throw ProjectError(block.at.file, block.at.line, block.folder + ": cannot read the media folder: " + error.message());
  if (files.empty()) throw ProjectError(block.at.file, block.at.line, block.folder + ": the media folder holds no files");
  std::sort(files.begin(), files.end(), [](const BlockFile& a, const BlockFile& b) { return a.path < b.path; });
  return files;
}

std::string folderOfPath(const std::string& path) {
  const size_t sep = path.rfind('\\');
  return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
}

std::string nameOfPath(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

// "DEMO\bin\" as the block and the folder in it ("bin\", or empty for the whole block).
struct LineSource {
  const MediaBlock* block = nullptr;
  std::vector<BlockFile>* files = nullptr;
  std::string folder;
};

class Planner {
 public:
  explicit Planner(Project& project) : project_(project), image_(project.image) {}

  void run() {
    for (const MediaBlock& block : project_.mediaBlocks) files_[upper(block.name)] = filesOf(block);
    // Only caching mode 2 makes a web block present before its lines; the offline block's files lie in
    // the data folder beside the setup in every mode.
    for (const MediaBlock& block : project_.mediaBlocks)
      if (block.web && project_.cachingGiven && image_.cachingMode != 2)
        throw ProjectError(block.at.file, block.at.line, "media blocks need caching = 2 (the sources kept in the engine cache)");
    if (!project_.cachingGiven) image_.cachingMode = 2;
    for (const MediaBlock& block : project_.mediaBlocks)
      for (const BlockFile& file : files_[upper(block.name)])
        addAll(image_.mediaFiles, {block.name, file.path, block.name + "\\" + folderOfPath(file.path)});
    const ImageIndex index(image_);
    for (size_t line = 0; line < image_.lineCount(); ++line)
      if (image_.commands[line] == "Install Files") planLine(index, line);
  }

 private:
  static void addAll(std::vector<std::string>& table, std::initializer_list<std::string> items) {
    table.insert(table.end(), items.begin(), items.end());
  }

  void planLine(const ImageIndex& index, size_t line) {
    const std::string source(index.parameterOfLine(line, 1));
    if (source.empty()) return;  // a line whose files the setup brings some other way
    const SourceLine& at = project_.scriptLines[line];
    const LineSource from = resolve(source, at);
    std::string mask(index.parameterOfLine(line, 2));
    if (mask.empty()) mask = "*";
    char id[16];
    std::snprintf(id, sizeof id, "%08X", 0xA0000000u + static_cast<unsigned>(line));
    std::vector<std::string> group = {id, "NEWHEADER"};
    for (const BlockFile& file : *from.files) {
      if (!startsWithNoCase(file.path, from.folder)) continue;
      if (fnmatch(mask.c_str(), nameOfPath(file.path).c_str(), FNM_CASEFOLD) != 0) continue;
      const std::string below = file.path.substr(from.folder.size());
      group.push_back(from.block->name + "\\" + file.path);
      group.push_back(folderOfPath(below));
      image_.totalWeight += static_cast<int64_t>(file.size);
    }
    if (group.size() == 2) throw ProjectError(at.file, at.line, "\"" + source + "\" holds no file that matches \"" + mask + "\"");
    image_.mediaFolders[line] = from.block->name + "\\";
    addAll(image_.commandHeaders, {id, std::to_string(line)});
    image_.headerFiles.insert(image_.headerFiles.end(), group.begin(), group.end());
  }

  LineSource resolve(const std::string& source, const SourceLine& at) {
    std::string path = source;
    std::replace(path.begin(), path.end(), '/', '\\');
    while (!path.empty() && path.back() == '\\') path.pop_back();
    const size_t sep = path.find('\\');
    const std::string name = path.substr(0, sep);
    LineSource from;
    for (const MediaBlock& block : project_.mediaBlocks)
      if (equalsNoCase(block.name, name)) from.block = &block;
    if (!from.block) throw ProjectError(at.file, at.line, "\"" + name + "\" is not a media block of the project");
    from.files = &files_[upper(name)];
    if (sep != std::string::npos) {
      from.folder = path.substr(sep + 1) + "\\";
      for (const std::string& part : split(from.folder, "\\"))
        if (part == "..") throw ProjectError(at.file, at.line, "\"" + source + "\" leaves its media block");
    }
    return from;
  }

  Project& project_;
  SetupImage& image_;
  std::map<std::string, std::vector<BlockFile>> files_;
};

}  // namespace

void planMedia(Project& project) {
  if (project.mediaBlocks.empty()) return;
  Planner(project).run();
}

std::string mediaArchiveName(const MediaBlock& block) { return block.name + ".7zip"; }

void writeMediaArchive(const MediaBlock& block, const std::string& archivePath, const PackProgressCallback& progress) {
  try {
    // The archive's one top folder carries the block's name.
    std::vector<PackEntry> entries = {{block.name, block.folder, true, {}}};
    for (PackEntry& entry : entriesOfFolder(block.folder, block.name + "/")) entries.push_back(std::move(entry));
    PackOptions options;
    options.password = block.password;
    options.fixedTime = sourceDateEpoch();
    options.progress = progress;
    writeArchive(archivePath, entries, options);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error("cannot pack the media block " + block.name + ": " + e.what());
  }
}

}  // namespace orv::make
