// orvmake PROJECT --stub orvstub.exe --out FOLDER
// Builds FOLDER/setup.exe (the engine with the image appended) from a project file.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "orvmake/project.h"

namespace {

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
  try {
    const orv::SetupImage image = orv::make::readProject(project);
    std::string bytes;
    if (!readFile(stub, bytes)) throw std::runtime_error(stub + ": cannot read the engine program");
    bytes += orv::writeImage(image);
    const std::string target = out + "/" + name + ".exe";
    std::ofstream o(target, std::ios::binary | std::ios::trunc);
    if (!o.write(bytes.data(), static_cast<std::streamsize>(bytes.size())))
      throw std::runtime_error(target + ": cannot write");
    std::printf("%s: %zu script lines, %zu bytes\n", target.c_str(), image.lineCount(), bytes.size());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
