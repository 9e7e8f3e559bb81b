// orvmake PROJECT --stub orvstub.exe --out FOLDER [--name setup] [--library orv.lib] [--progress]
// Builds FOLDER/setup.exe (the engine with the image appended), FOLDER/setup.res (the support files
// and the compiled wizard pages), FOLDER/<block>.7zip for every web block, FOLDER/data/offline/ for the
// offline block and, with --library, the archive library beside them. Everything is checked before
// anything is written, and the files appear together or not at all.
#include <unistd.h>

#include <chrono>
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

struct Options {
  std::string project, stub, out, name = "setup", library;
  bool progress = false;
};

int usage() {
  std::fprintf(stderr, "usage: orvmake PROJECT --stub ENGINE.exe --out FOLDER [--name setup] [--library orv.lib] [--progress]\n");
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
    for (const std::string& p : paths) fs::remove_all(p, ignored);
  }
};

std::string sizeText(uint64_t bytes) {
  char text[32];
  if (bytes < 10 * 1024) std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  else if (bytes < 10 * 1024 * 1024) std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / 1024.0);
  else std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

std::string ratio(uint64_t out, uint64_t in) {
  if (in == 0) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.0f%%", 100.0 * static_cast<double>(out) / static_cast<double>(in));
  return text;
}

// The totals of the media written, for the summary.
struct MediaTotals {
  size_t files = 0;
  uint64_t bytesIn = 0, bytesOut = 0;
};

// Per block a line that grows with the archive while stderr is a terminal, and its totals once written.
class ProgressReport {
 public:
  explicit ProgressReport(bool on) : on_(on), terminal_(::isatty(2) != 0) {}

  orv::make::PackProgressCallback forBlock(const std::string& name) {
    if (!on_ || !terminal_) return {};
    return [this, name](const orv::make::PackProgress& p) {
      const auto now = std::chrono::steady_clock::now();
      if (now - shown_ < std::chrono::milliseconds(200)) return;
      shown_ = now;
      std::fprintf(stderr, "\r%s: %zu/%zu files, %s of %s, %s   ", name.c_str(), p.filesDone, p.filesTotal,
                   sizeText(p.bytesRead).c_str(), sizeText(p.bytesTotal).c_str(), ratio(p.bytesWritten, p.bytesRead).c_str());
    };
  }
  void block(const std::string& name, size_t files, uint64_t in, uint64_t out, const char* verb) const {
    if (!on_) return;
    std::fprintf(stderr, "%s%s: %zu files, %s %s, %s (%s)\n", terminal_ ? "\r" : "", name.c_str(), files,
                 sizeText(in).c_str(), verb, sizeText(out).c_str(), ratio(out, in).c_str());
  }

 private:
  bool on_, terminal_;
  std::chrono::steady_clock::time_point shown_{};
};

// Copies the offline block's folder to `target` (a new folder); returns its files and bytes.
MediaTotals copyOfflineBlock(const orv::make::MediaBlock& block, const fs::path& target) {
  MediaTotals totals;
  std::error_code error;
  fs::create_directories(target, error);
  if (error) throw std::runtime_error(target.string() + ": cannot create: " + error.message());
  for (auto it = fs::recursive_directory_iterator(block.folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const fs::path to = target / fs::relative(it->path(), block.folder);
    if (it->is_directory()) {
      fs::create_directories(to);
    } else if (it->is_regular_file()) {
      fs::create_directories(to.parent_path());
      fs::copy_file(it->path(), to, fs::copy_options::overwrite_existing);
      ++totals.files;
      totals.bytesIn += it->file_size();
    }
  }
  if (error) throw std::runtime_error(block.folder + ": cannot copy the offline block: " + error.message());
  totals.bytesOut = totals.bytesIn;
  return totals;
}

int build(const Options& o) {
  using namespace orv::make;
  const auto started = std::chrono::steady_clock::now();
  ProgressReport progress(o.progress || ::isatty(2) != 0);

  Project project = readProject(o.project);
  addWebBlockLines(project);
  planMedia(project);
  planComponents(project);
  const std::vector<SupportFile> pages = compilePages(project);
  std::vector<std::string> supportNames = supportFileNames(project.resourceFolder);
  for (const SupportFile& page : pages) supportNames.push_back(page.name);
  checkDialogLines(project, supportNames);
  checkProject(project);

  std::string bytes;
  if (!readFile(o.stub, bytes)) throw std::runtime_error(o.stub + ": cannot read the engine program");
  bytes += orv::writeImage(project.image);
  if (!o.library.empty() && !fs::is_regular_file(o.library)) throw std::runtime_error(o.library + ": the archive library does not exist");
  if (!fs::is_directory(o.out)) throw std::runtime_error(o.out + ": the output folder does not exist");

  const std::string exe = o.out + "/" + o.name + ".exe", res = o.out + "/" + o.name + ".res";
  const std::string offline = o.out + "/data/offline", library = o.out + "/orv.lib";
  PendingFiles pending;
  // The engine will not start without its resource archive, so a setup without support files or pages
  // still gets one (empty).
  pending.paths.push_back(res + ".part");
  fs::remove(res + ".part");
  writeResourceArchive(res + ".part", project.resourceFolder, pages);
  MediaTotals media;
  std::vector<std::string> blockArchives;
  const MediaBlock* offlineBlock = nullptr;
  for (const MediaBlock& block : project.mediaBlocks) {
    if (!block.web) {
      offlineBlock = &block;
      pending.paths.push_back(offline + ".part");
      fs::remove_all(offline + ".part");
      const MediaTotals copied = copyOfflineBlock(block, offline + ".part");
      progress.block(block.name, copied.files, copied.bytesIn, copied.bytesOut, "copied as");
      media.files += copied.files;
      media.bytesIn += copied.bytesIn;
      media.bytesOut += copied.bytesOut;
      continue;
    }
    const std::string archive = o.out + "/" + mediaArchiveName(block);
    pending.paths.push_back(archive + ".part");
    fs::remove(archive + ".part");
    uint64_t read = 0, total = 0;
    size_t files = 0;
    PackProgressCallback report = progress.forBlock(block.name);
    writeMediaArchive(block, archive + ".part", [&](const PackProgress& p) {
      read = p.bytesRead;
      total = p.bytesTotal;
      files = p.filesTotal;
      if (report) report(p);
    });
    std::error_code ignored;
    const uintmax_t written = fs::file_size(archive + ".part", ignored);
    progress.block(block.name, files, std::max(read, total), ignored ? 0 : written, "packed into");
    media.files += files;
    media.bytesIn += std::max(read, total);
    media.bytesOut += ignored ? 0 : written;
    blockArchives.push_back(archive);
  }
  if (!o.library.empty()) {
    pending.paths.push_back(library + ".part");
    fs::copy_file(o.library, library + ".part", fs::copy_options::overwrite_existing);
  }
  pending.paths.push_back(exe + ".part");
  writeFile(exe + ".part", bytes);

  // Everything is written: the new files take the places of the old ones.
  fs::rename(exe + ".part", exe);
  fs::rename(res + ".part", res);
  for (const std::string& archive : blockArchives) fs::rename(archive + ".part", archive);
  fs::remove_all(offline);  // files of an earlier build would be installed with this one's
  if (offlineBlock) fs::rename(offline + ".part", offline);
  if (!o.library.empty()) fs::rename(library + ".part", library);

  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%s: %zu script lines, %zu bytes; %zu pages, %zu support files, %zu media blocks (%zu files, %s in, %s out, %s); %.1f s\n",
              exe.c_str(), project.image.lineCount(), bytes.size(), project.pages.size(), supportNames.size() - pages.size(),
              project.mediaBlocks.size(), media.files, sizeText(media.bytesIn).c_str(), sizeText(media.bytesOut).c_str(),
              ratio(media.bytesOut, media.bytesIn).c_str(), seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--stub" || a == "--out" || a == "--name" || a == "--library") && i + 1 < argc) {
      (a == "--stub" ? o.stub : a == "--out" ? o.out : a == "--name" ? o.name : o.library) = argv[++i];
    } else if (a == "--progress") {
      o.progress = true;
    } else if (o.project.empty() && a.rfind("--", 0) != 0) {
      o.project = a;
    } else {
      return usage();
    }
  }
  if (o.project.empty() || o.stub.empty() || o.out.empty()) return usage();
  if (o.name.empty() || o.name.find('/') != std::string::npos) return usage();
  try {
    return build(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvmake: %s\n", e.what());
    return 1;
  }
}
