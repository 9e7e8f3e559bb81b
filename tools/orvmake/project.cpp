#include "orvmake/project.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "core/image.h"
#include "core/text.h"
#include "core/variables.h"

namespace orv::make {
namespace {

std::string folderPart(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<std::string> splitParameters(const std::string& text) {
  std::vector<std::string> params;
  std::string current;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '|') {
      current += '|';
      ++i;
    } else if (text[i] == '|') {
      params.push_back(trim(current));
      current.clear();
    } else {
      current += text[i];
    }
  }
  params.push_back(trim(current));
  for (auto& p : params)
    if (p == "\"\"") p.clear();
  return params;
}

// A GUID-shaped identifier derived from a seed text (FNV-1a), upper-case hexadecimal in braces.
std::string derivedGuid(const std::string& seed) {
  uint64_t a = 1469598103934665603ull, b = 1099511628211ull ^ 0x9E3779B97F4A7C15ull;
  for (unsigned char c : seed) {
    a = (a ^ c) * 1099511628211ull;
    b = (b ^ c) * 1099511628211ull + 0x632BE59BD9B4E019ull;
  }
  char buf[64];
  snprintf(buf, sizeof buf, "{%08X-%04X-4%03X-8%03X-%012llX}", unsigned(a >> 32), unsigned(a >> 16) & 0xFFFF,
           unsigned(a) & 0xFFF, unsigned(b >> 52) & 0xFFF, static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
  return buf;
}

// Dialog names become file names in the resource archive: plain names only.
bool isPlainName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '.') return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') return false;
  return true;
}

class Reader {
 public:
  Project project;
  SetupImage& image = project.image;

  void readFile(const std::string& path, int depth) {
    if (depth > 16) throw ProjectError(path, 0, "includes nest too deeply");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ProjectError(path, 0, "cannot read the file");
    std::string line;
    size_t number = 0;
    while (std::getline(in, line)) {
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      handleLine(path, number, line, depth);
    }
  }

  void finish(const std::string& projectPath) {
    if (image.productCode.empty()) image.productCode = derivedGuid("product:" + image.title);
    if (image.revisionCode.empty()) image.revisionCode = derivedGuid("revision:" + image.title + image.version);
    if (image.componentSizes.empty()) image.componentSizes = {"ZORN-PREDEF-COMPONENT", "0"};
    if (image.languageDialog.empty()) image.languageDialog = "FALSE";
    if (image.defaultLanguage.empty()) image.defaultLanguage = "English";
    image.compilerVariables.insert(image.compilerVariables.begin(), {"TITLE", image.title, "PROJDIR", projectPath});
    substituteConstants();
  }

  // A "#NAME#" in a script parameter is a build-time constant: the title, the project folder and every
  // definition are written into the line; names the project does not define stay as written.
  void substituteConstants() {
    const auto constants = ImageIndex(image).compilerConstants();
    for (std::string& parameter : image.parameters)
      if (parameter.find('#') != std::string::npos) parameter = expandCompilerConstants(parameter, constants);
  }

 private:
  void handleLine(const std::string& file, size_t number, const std::string& raw, int depth) {
    const std::string line = trim(raw);
    if (line.empty() || line[0] == '#') return;
    if (startsWithNoCase(line, "include ")) {
      readFile(folderPart(file) + trim(line.substr(8)), depth + 1);
      return;
    }
    if (startsWithNoCase(line, "media ")) {
      addMediaBlock(file, number, trim(line.substr(6)));
      return;
    }
    if (startsWithNoCase(line, "page ")) {
      addPage(file, number, trim(line.substr(5)));
      return;
    }
    if (startsWithNoCase(line, "define ")) {
      const std::string rest = line.substr(7);
      const size_t eq = rest.find('=');
      if (eq == std::string::npos) throw ProjectError(file, number, "a definition needs NAME = value");
      image.compilerVariables.push_back(upper(trim(rest.substr(0, eq))));
      image.compilerVariables.push_back(trim(rest.substr(eq + 1)));
      return;
    }
    const size_t colon = line.find(':');
    const size_t eq = line.find('=');
    if (eq != std::string::npos && (colon == std::string::npos || eq < colon)) {
      setField(file, number, lower(trim(line.substr(0, eq))), trim(line.substr(eq + 1)));
      return;
    }
    addScriptLine(file, number, line);
  }

  void setField(const std::string& file, size_t number, const std::string& name, const std::string& value) {
    static const std::map<std::string, std::function<void(SetupImage&, const std::string&)>> fields = {
        {"title", [](SetupImage& i, const std::string& v) { i.title = v; }},
        {"version", [](SetupImage& i, const std::string& v) { i.version = v; }},
        {"publisher", [](SetupImage& i, const std::string& v) { i.publisher = v; }},
        {"contact", [](SetupImage& i, const std::string& v) { i.contact = v; }},
        {"help", [](SetupImage& i, const std::string& v) { i.helpLink = v; }},
        {"update", [](SetupImage& i, const std::string& v) { i.updateInfoLink = v; }},
        {"comments", [](SetupImage& i, const std::string& v) { i.comments = v; }},
        {"product-code", [](SetupImage& i, const std::string& v) { i.productCode = v; }},
        {"revision-code", [](SetupImage& i, const std::string& v) { i.revisionCode = v; }},
        {"language", [](SetupImage& i, const std::string& v) { i.defaultLanguage = v; }},
    };
    if (name == "resources") {
      if (value.empty()) throw ProjectError(file, number, "resources needs a folder");
      project.resourceFolder = value[0] == '/' ? value : folderPart(file) + value;
      return;
    }
    if (name == "codepage" || name == "caching") {
      int64_t n;
      if (!parseInt64(value, n) || n <= 0) throw ProjectError(file, number, name + " must be a positive number");
      (name == "codepage" ? image.codePage : image.cachingMode) = n;
      if (name == "caching") project.cachingGiven = true;
      return;
    }
    auto it = fields.find(name);
    if (it == fields.end()) throw ProjectError(file, number, "unknown product field \"" + name + "\"");
    it->second(image, value);
  }

  void addMediaBlock(const std::string& file, size_t number, const std::string& text) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos) throw ProjectError(file, number, "a media block needs NAME = folder");
    MediaBlock block{trim(text.substr(0, eq)), trim(text.substr(eq + 1)), {file, number}};
    // The name becomes a folder of the data folder and the archive's file name.
    bool plain = !block.name.empty() && block.name.size() <= 32;
    for (char c : block.name) plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-');
    if (!plain) throw ProjectError(file, number, "a media block needs a plain name (letters, digits, '_', '-'): \"" + block.name + "\"");
    if (block.folder.empty()) throw ProjectError(file, number, "the media block " + block.name + " needs a folder");
    for (const MediaBlock& other : project.mediaBlocks)
      if (equalsNoCase(other.name, block.name))
        throw ProjectError(file, number, "the media block " + block.name + " is already named at line " + std::to_string(other.at.line));
    if (block.folder[0] != '/') block.folder = folderPart(file) + block.folder;
    project.mediaBlocks.push_back(std::move(block));
  }

  void addPage(const std::string& file, size_t number, const std::string& text) {
    const size_t eq = text.find('=');
    PageEntry page;
    page.name = trim(text.substr(0, eq));
    page.at = {file, number};
    if (!isPlainName(page.name))
      throw ProjectError(file, number, "a page needs a plain name (letters, digits, '_', '-', '.'): \"" + page.name + "\"");
    for (const PageEntry& other : project.pages)
      if (equalsNoCase(other.name, page.name))
        throw ProjectError(file, number, "the page \"" + page.name + "\" is already named at line " + std::to_string(other.at.line));
    if (eq != std::string::npos) {
      const std::vector<std::string> paths = splitParameters(text.substr(eq + 1));
      if (paths.size() > 2) throw ProjectError(file, number, "a page takes a design file and a rules file at most");
      auto resolve = [&](const std::string& p) { return p.empty() || p[0] == '/' ? p : folderPart(file) + p; };
      page.designPath = resolve(paths[0]);
      if (paths.size() == 2) page.rulesPath = resolve(paths[1]);
    }
    project.pages.push_back(std::move(page));
  }

  void addScriptLine(const std::string& file, size_t number, const std::string& line) {
    const bool disabled = line.rfind("//", 0) == 0;
    const std::string text = disabled ? trim(line.substr(2)) : line;
    const size_t colon = text.find(':');
    const std::string command = trim(colon == std::string::npos ? text : text.substr(0, colon));
    if (command.empty()) throw ProjectError(file, number, "a script line needs a command name");
    const size_t index = image.commands.size();
    const std::string id = derivedGuid(file + "*" + std::to_string(number) + "*" + std::to_string(index));
    image.commands.push_back(command);
    image.lineIds.push_back(id);
    image.disabled.push_back(disabled ? "C" : "");
    image.mediaFolders.push_back("");
    image.sourcePositions.push_back(file + "*" + std::to_string(number - 1));
    project.scriptLines.push_back({file, number});
    if (colon != std::string::npos) {
      image.parameters.push_back(id);
      for (auto& p : splitParameters(text.substr(colon + 1))) image.parameters.push_back(p);
    }
  }
};

}  // namespace

Project readProject(const std::string& path) {
  Reader reader;
  reader.readFile(path, 0);
  reader.finish(folderPart(path));
  return std::move(reader.project);
}

}  // namespace orv::make
