// Speed of the native installation engine against a plain copy of the same tree, under Wine.
//
//   native_install_bench DATA-FOLDER WORK-FOLDER [RUNS [copy|install]]
//
// DATA-FOLDER is an unpacked data folder (bench/run-native-install.sh makes one). Each run copies the
// tree with CopyFileW into WORK-FOLDER\copy (the plain copy), installs it through the engine with undo
// logging into WORK-FOLDER\install (one "Install Files" line queued and replayed by the deferred run, its
// log under WORK-FOLDER\cache), and uninstalls it from that log with a fresh engine, as a later
// maintenance run would. The order of copy and install alternates between runs. Prints the medians and
// the install/copy speed ratio; exits 1 when a run leaves a wrong tree behind. A last argument "copy" or
// "install" runs only that side (and the uninstall after an install), for profiling one of them.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bootstrap/engine.h"
#include "core/image.h"
#include "core/text.h"
#include "engines/native_plan.h"
#include "engines/native_state.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/strings.h"
#include "script/command.h"
#include "script/commands.h"
#include "script/interpreter_state.h"

namespace orv {
namespace {

struct DataFile {
  std::string relative;  // path inside the data folder
  std::string folder;    // its folder inside the data folder, empty or without a trailing backslash
  int64_t size = 0;
};

struct DataTree {
  std::vector<DataFile> files;
  std::vector<std::string> folders;  // parents before children
  int64_t bytes = 0;
};

void listTree(const std::string& root, const std::string& relative, DataTree& tree) {
  WIN32_FIND_DATAW fd;
  UniqueFind find(FindFirstFileW(widen(root + relative + "*").c_str(), &fd));
  if (find.get() == INVALID_HANDLE_VALUE) return;
  std::vector<std::string> subfolders;
  do {
    const std::string name = narrow(fd.cFileName);
    if (name == "." || name == "..") continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      subfolders.push_back(relative + name + "\\");
      continue;
    }
    const int64_t size = (int64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    std::string folder = relative;
    if (!folder.empty()) folder.pop_back();
    tree.files.push_back({relative + name, folder, size});
    tree.bytes += size;
  } while (FindNextFileW(find.get(), &fd));
  for (const std::string& sub : subfolders) {
    tree.folders.push_back(sub);
    listTree(root, sub, tree);
  }
}

double now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return double(t.QuadPart) / double(frequency.QuadPart);
}

// The plain copy a user could make: folders, then every file by CopyFileW.
bool plainCopy(const DataTree& tree, const std::string& from, const std::string& to) {
  bool ok = createFolders(to);
  for (const std::string& folder : tree.folders) ok &= CreateDirectoryW(widen(to + folder).c_str(), nullptr) != 0;
  for (const DataFile& f : tree.files)
    ok &= CopyFileW(widen(from + f.relative).c_str(), widen(to + f.relative).c_str(), FALSE) != 0;
  return ok;
}

// Files and bytes under a folder (0 when it does not exist).
std::pair<size_t, int64_t> countTree(const std::string& folder) {
  DataTree t;
  listTree(folder, "", t);
  return {t.files.size(), t.bytes};
}

constexpr const char* kHeader = "B0000000";

// An engine set up as a silent native run of one product whose cache (and so whose undo log) lives
// under `cache`, with one "Install Files" line for the whole tree.
std::unique_ptr<Engine> makeEngine(const DataTree& tree, const std::string& data, const std::string& target,
                                   const std::string& cache) {
  auto engine = std::make_unique<Engine>();
  engine->interpreter = std::make_shared<InterpreterState>();
  engine->startup.programBaseName = "setup";
  SetupImage image;
  image.title = "Bench Product";
  image.commands = {"Install Files"};
  image.lineIds = {"{B0000000-0000-4000-8000-000000000001}"};
  image.disabled = {""};
  image.mediaFolders = {""};
  image.sourcePositions = {"bench.orv*0"};
  image.parameters = {image.lineIds[0], "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "",
                      "FALSE", "FALSE", "FALSE", "FALSE"};
  image.commandHeaders = {kHeader, "0"};
  image.headerFiles = {kHeader, "NEWHEADER"};
  for (const DataFile& f : tree.files) {
    image.headerFiles.push_back(f.relative);
    image.headerFiles.push_back(f.folder);
  }
  image.totalWeight = tree.bytes;
  engine->loadImage(std::move(image));
  for (auto [name, value] : std::initializer_list<std::pair<const char*, std::string>>{
           {"SILENT", "TRUE"}, {"ABORTONERROR", "TRUE"}, {"ABORTEDONERROR", "FALSE"}, {"NATIVE_ENGINE", "TRUE"},
           {"NATIVE_LOGGING", ""}, {"NATIVE_ROLLBACK", "TRUE"}, {"NATIVE_ERROR", "ABORT"},
           {"NATIVE_OVERWRITE", "PROMPT"}, {"NATIVE_OVERWRITE_OLDER", "FALSE"}, {"NATIVE_PROGRESS", "0"},
           {"DELAYUNTIL_APPLYCHANGES", "TRUE"}, {"NATIVE_OVERRIDE_PERMISSIONS", "FALSE"}, {"ALLUSERS", "FALSE"},
           {"MAINTENANCE", "FALSE"}, {"PRODUCTCODE", "{6F1C2A10-0000-4000-8000-0000000000B1}"},
           {"REVISIONCODE", "{6F1C2A10-0000-4000-8000-0000000000B2}"}, {"OVERRIDECACHE", cache}, {"DATADIR", data},
           {"ZORN_IsCancelled", "FALSE"}, {"WINDOWHANDLE", "0"}, {"TARGET", target}})
    engine->vars.setValue(name, value);
  return engine;
}

struct Timings {
  std::vector<double> copy, install, uninstall;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void printLine(const char* what, double seconds, size_t files, int64_t bytes) {
  std::printf("%-10s %8.3f s  %8.0f files/s  %7.1f MB/s\n", what, seconds, double(files) / seconds,
              double(bytes) / (1024.0 * 1024.0) / seconds);
}

enum class Sides { Both, CopyOnly, InstallOnly };

int run(const std::string& data, const std::string& work, int runs, Sides sides) {
  DataTree tree;
  listTree(data, "", tree);
  if (tree.files.empty()) {
    std::fprintf(stderr, "no files in %s\n", data.c_str());
    return 2;
  }
  std::printf("%zu files in %zu folders, %.1f MB; %d runs\n", tree.files.size(), tree.folders.size(),
              double(tree.bytes) / (1024.0 * 1024.0), runs);
  const std::string copyTarget = work + "copy\\", installTarget = work + "install\\", cache = work + "cache\\";
  Timings t;
  bool sound = true;
  for (int r = 0; r < runs; ++r) {
    deleteTree(copyTarget);
    deleteTree(installTarget);
    deleteTree(cache);
    auto copyOnce = [&] {
      const double start = now();
      const bool ok = plainCopy(tree, data, copyTarget);
      t.copy.push_back(now() - start);
      if (!ok || countTree(copyTarget) != std::make_pair(tree.files.size(), tree.bytes)) {
        std::fprintf(stderr, "run %d: the plain copy is incomplete\n", r + 1);
        sound = false;
      }
    };
    auto installOnce = [&] {
      auto engine = makeEngine(tree, data, installTarget, cache);
      CommandContext line(*engine, 1);
      findCommand("Install Files")(line);  // queued until the deferred run
      const double start = now();
      const bool ok = runDeferredActions(*engine) && nativeState(*engine).lastJob.code == 1;
      t.install.push_back(now() - start);
      if (!ok || countTree(installTarget) != std::make_pair(tree.files.size(), tree.bytes)) {
        std::fprintf(stderr, "run %d: the install is incomplete\n", r + 1);
        sound = false;
      }
    };
    if (sides == Sides::CopyOnly) {
      copyOnce();
      std::printf("run %d: copy %.3f s\n", r + 1, t.copy.back());
      continue;
    }
    if (sides == Sides::InstallOnly) {
      installOnce();
    } else if (r % 2) {
      installOnce();
      copyOnce();
    } else {
      copyOnce();
      installOnce();
    }
    {
      auto engine = makeEngine(tree, data, installTarget, cache);
      const double start = now();
      const bool ok = runUndo(*engine, UndoMode::Uninstall);
      t.uninstall.push_back(now() - start);
      if (!ok || folderExists(installTarget)) {
        std::fprintf(stderr, "run %d: the uninstall left %zu files\n", r + 1, countTree(installTarget).first);
        sound = false;
      }
    }
    std::printf("run %d: copy %.3f s, install %.3f s, uninstall %.3f s\n", r + 1,
                t.copy.empty() ? 0.0 : t.copy.back(), t.install.back(), t.uninstall.back());
  }
  deleteTree(copyTarget);
  deleteTree(installTarget);
  deleteTree(cache);

  if (t.copy.empty() || t.install.empty()) return sound ? 0 : 1;  // one side only: the runs say it all
  const double copy = median(t.copy), install = median(t.install), uninstall = median(t.uninstall);
  std::printf("medians:\n");
  printLine("copy", copy, tree.files.size(), tree.bytes);
  printLine("install", install, tree.files.size(), tree.bytes);
  printLine("uninstall", uninstall, tree.files.size(), tree.bytes);
  const double ratio = copy / install;
  const double uninstallRate = double(tree.files.size()) / uninstall;
  std::printf("install/copy speed %.2f (target 0.70 or more: %s); uninstall %.0f files/s (target 2000 or more: %s)\n",
              ratio, ratio >= 0.7 ? "met" : "MISSED", uninstallRate, uninstallRate >= 2000 ? "met" : "MISSED");
  return sound ? 0 : 1;
}

}  // namespace
}  // namespace orv

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: native_install_bench DATA-FOLDER WORK-FOLDER [RUNS]\n");
    return 2;
  }
  const std::string data = orv::withTrailingBackslash(orv::narrow(argv[1]));
  const std::string work = orv::withTrailingBackslash(orv::narrow(argv[2]));
  const int runs = argc > 3 ? std::max(1, _wtoi(argv[3])) : 5;
  const std::wstring only = argc > 4 ? argv[4] : L"";
  const orv::Sides sides = only == L"copy" ? orv::Sides::CopyOnly : only == L"install" ? orv::Sides::InstallOnly : orv::Sides::Both;
  try {
    return orv::run(data, work, runs, sides);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s\n", failure.what());
    return 2;
  }
}
