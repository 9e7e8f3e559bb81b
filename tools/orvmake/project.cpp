#include "orvmake/project.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "core/codepage.h"
#include "core/expression.h"
#include "core/image.h"
#include "core/media_password.h"
#include "core/script_check.h"
#include "core/text.h"
#include "core/variables.h"
#include "orvmake/command_table.h"

namespace orv::make {
namespace {

namespace fs = std::filesystem;

std::string folderPart(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Splits at unescaped bars; with `limit`, the last parameter takes the rest of the text as written.
std::vector<std::string> splitParameters(const std::string& text, size_t limit = 0) {
  std::vector<std::string> params;
  std::string current;
  for (size_t i = 0; i < text.size(); ++i) {
    if (limit && params.size() + 1 == limit) {
      current += text.substr(i);
      break;
    }
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

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in any letter case.
bool isGuid(const std::string& text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  for (size_t i = 1; i < 37; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

// Dialog names become file names in the resource archive: plain names only.
bool isPlainName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '.') return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') return false;
  return true;
}

bool hasControlCharacter(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// A download address the engine's downloader can fetch: http, https or ftp with a host, no blanks.
bool isDownloadUrl(const std::string& url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return false;
  const std::string kind = lower(url.substr(0, scheme));
  if (kind != "http" && kind != "https" && kind != "ftp") return false;
  const std::string rest = url.substr(scheme + 3);
  if (rest.empty() || rest[0] == '/' || rest.find_first_of(" \t\"<>") != std::string::npos) return false;
  return !hasControlCharacter(url);
}

// The code pages whose texts the tool writes exactly.
bool writableCodePage(int64_t cp) { return cp == 1252 || cp == 28591 || cp == 20127 || cp == 65001; }

void addAll(std::vector<std::string>& table, std::initializer_list<std::string> items) {
  table.insert(table.end(), items.begin(), items.end());
}

// "line 4" in the same file, "other.orvp:4" in another.
std::string placeOf(const SourceLine& earlier, const SourceLine& now) {
  return earlier.file == now.file ? "line " + std::to_string(earlier.line) : earlier.file + ":" + std::to_string(earlier.line);
}

// A script line as written, before the command table has checked it.
struct DraftLine {
  std::string command;
  std::string parameterText;  // after the colon, as written
  bool hasParameters = false;
  bool disabled = false;
  SourceLine at;
  std::string idSeed;  // position relative to the project folder, so the identifier does not hold the path
};

class Reader {
 public:
  Project project;
  SetupImage& image = project.image;

  explicit Reader(const std::string& projectPath) : root_(folderPart(projectPath)) {}

  void readFile(const std::string& path, const SourceLine& from) {
    std::error_code ignored;
    const std::string key = fs::weakly_canonical(path, ignored).string();
    for (size_t i = 0; i < open_.size(); ++i) {
      if (open_[i] != key) continue;
      std::string chain;
      for (size_t j = i; j < open_.size(); ++j) chain += fs::path(open_[j]).filename().string() + " -> ";
      throw ProjectError(from.file, from.line, "the include forms a cycle: " + chain + fs::path(key).filename().string());
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      if (from.file.empty()) throw ProjectError(path, 0, "cannot read the project file");
      throw ProjectError(from.file, from.line, path + ": cannot read the included file");
    }
    open_.push_back(key);
    std::string line;
    size_t number = 0;
    while (std::getline(in, line)) {
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      handleLine(path, number, line);
    }
    open_.pop_back();
    if (open_.empty()) project.end = {path, std::max<size_t>(number, 1)};
  }

  void finish(const std::string& projectPath) {
    if (image.title.empty()) throw ProjectError(project.end.file, 1, "the project needs a title (title = ...)");
    if (image.productCode.empty()) image.productCode = derivedGuid("product:" + image.title);
    if (image.revisionCode.empty()) image.revisionCode = derivedGuid("revision:" + image.title + image.version);
    if (image.languageDialog.empty()) image.languageDialog = "FALSE";
    if (image.defaultLanguage.empty()) image.defaultLanguage = "English";
    image.compilerVariables.insert(image.compilerVariables.begin(), {"TITLE", image.title, "PROJDIR", projectPath});
    if (offlineBlock() && !definesConstant("CACHESOURCES"))
      image.compilerVariables.insert(image.compilerVariables.end(), {"CACHESOURCES", "TRUE"});
    for (const DraftLine& draft : drafts_) addScriptLine(draft);
    substituteConstants();
    storePasswords();
  }

 private:
  // A "#NAME#" in a script parameter is a build-time constant: the title, the project folder and every
  // definition are written into the line; names the project does not define stay as written.
  void substituteConstants() {
    const auto constants = ImageIndex(image).compilerConstants();
    for (std::string& parameter : image.parameters)
      if (parameter.find('#') != std::string::npos) parameter = expandCompilerConstants(parameter, constants);
  }

  // The engine reads a stored password in the project's code page (known once the whole project is
  // read), while the archive is locked with the text itself: a password that code page cannot hold
  // would reach the engine changed and never open its block.
  void storePasswords() {
    const unsigned cp = static_cast<unsigned>(image.codePage);
    for (const MediaBlock& block : project.mediaBlocks) {
      if (block.password.empty()) continue;
      const std::string stored = utf8ToCodePage(block.password, cp);
      if (codePageToUtf8(stored, cp) != block.password)
        throw ProjectError(block.at.file, block.at.line, "the password of the media block " + block.name +
                                                             " holds characters that code page " + std::to_string(cp) +
                                                             " cannot show (choose another codepage)");
      addAll(image.mediaPasswords, {block.name, scrambleMediaPassword(stored)});
    }
  }

  // The offline copy moves files out of the setup's data folder unless the sources are kept: a setup
  // built here keeps its folder whole, so it can run again.
  const MediaBlock* offlineBlock() const {
    for (const MediaBlock& block : project.mediaBlocks)
      if (!block.web) return &block;
    return nullptr;
  }

  bool definesConstant(const std::string& name) const {
    for (size_t i = 0; i + 1 < image.compilerVariables.size(); i += 2)
      if (equalsNoCase(image.compilerVariables[i], name)) return true;
    return false;
  }

  void handleLine(const std::string& file, size_t number, const std::string& raw) {
    const std::string line = trim(raw);
    if (line.empty() || line[0] == '#') return;
    const SourceLine at{file, number};
    if (startsWithNoCase(line, "include ")) {
      readFile(folderPart(file) + trim(line.substr(8)), at);
      return;
    }
    if (startsWithNoCase(line, "media ")) {
      addMediaBlock(at, trim(line.substr(6)), true);
      return;
    }
    if (startsWithNoCase(line, "page ")) {
      addPage(at, trim(line.substr(5)));
      return;
    }
    if (startsWithNoCase(line, "component ")) {
      addComponent(at, trim(line.substr(10)));
      return;
    }
    if (startsWithNoCase(line, "plugin ")) {
      addPlugin(at, trim(line.substr(7)));
      return;
    }
    if (startsWithNoCase(line, "define ")) {
      const std::string rest = line.substr(7);
      const size_t eq = rest.find('=');
      const std::string name = eq == std::string::npos ? std::string() : upper(trim(rest.substr(0, eq)));
      if (name.empty() || name.find_first_of("# ") != std::string::npos)
        throw ProjectError(file, number, "a definition needs NAME = value (a name without blanks or \"#\")");
      image.compilerVariables.push_back(name);
      image.compilerVariables.push_back(trim(rest.substr(eq + 1)));
      return;
    }
    const size_t colon = line.find(':');
    const size_t eq = line.find('=');
    if (eq != std::string::npos && (colon == std::string::npos || eq < colon) && line.rfind("//", 0) != 0) {
      const std::string name = lower(trim(line.substr(0, eq)));
      if (name == "offline") addMediaBlock(at, std::string(kOfflineBlock) + " = " + trim(line.substr(eq + 1)), false);
      else setField(at, name, trim(line.substr(eq + 1)));
      return;
    }
    addDraft(at, line);
  }

  void setField(const SourceLine& at, const std::string& name, const std::string& value) {
    static const std::map<std::string, std::string SetupImage::*> texts = {
        {"title", &SetupImage::title},          {"version", &SetupImage::version},
        {"publisher", &SetupImage::publisher},  {"contact", &SetupImage::contact},
        {"help", &SetupImage::helpLink},        {"update", &SetupImage::updateInfoLink},
        {"comments", &SetupImage::comments},    {"product-code", &SetupImage::productCode},
        {"revision-code", &SetupImage::revisionCode}, {"language", &SetupImage::defaultLanguage},
        {"language-dialog", &SetupImage::languageDialog},
    };
    static const char* const numbers[] = {"codepage", "caching"};
    const bool known = texts.count(name) || name == "resources" || std::find(std::begin(numbers), std::end(numbers), name) != std::end(numbers);
    if (!known) throw ProjectError(at.file, at.line, "unknown product field \"" + name + "\"");
    if (const auto earlier = fieldsAt_.find(name); earlier != fieldsAt_.end())
      throw ProjectError(at.file, at.line, name + " is already set at " + placeOf(earlier->second, at));
    fieldsAt_[name] = at;
    if (hasControlCharacter(value)) throw ProjectError(at.file, at.line, name + " holds a control character");
    if (name == "resources") {
      if (value.empty()) throw ProjectError(at.file, at.line, "resources needs a folder");
      project.resourceFolder = value[0] == '/' ? value : folderPart(at.file) + value;
      return;
    }
    if (name == "codepage" || name == "caching") {
      setNumber(at, name, value);
      return;
    }
    std::string text = value;
    if (name == "title" && (text.empty() || text.find_first_of("\\/:*?\"<>|") != std::string::npos || text.back() == '.' ||
                            text.size() > 128))
      throw ProjectError(at.file, at.line, "the title names the uninstall entry and files: it needs 1 to 128 characters, none of \\ / : * ? \" < > | and no final \".\"");
    if (name == "product-code" || name == "revision-code") {
      if (!isGuid(text)) throw ProjectError(at.file, at.line, name + " must be a GUID in braces, like {01234567-89AB-CDEF-0123-456789ABCDEF}");
      text = upper(text);
    }
    if (name == "language-dialog") {
      if (!equalsNoCase(text, "TRUE") && !equalsNoCase(text, "FALSE")) throw ProjectError(at.file, at.line, "language-dialog must be TRUE or FALSE");
      text = upper(text);
    }
    if (name == "language" && text.empty()) throw ProjectError(at.file, at.line, "language needs a language name, like English");
    image.*texts.at(name) = text;
  }

  void setNumber(const SourceLine& at, const std::string& name, const std::string& value) {
    int64_t n;
    if (name == "caching") {
      if (!parseInt64(value, n) || n < 1 || n > 3)
        throw ProjectError(at.file, at.line, "caching must be 1, 2 or 3 (2 keeps the sources in the engine cache)");
      image.cachingMode = n;
      project.cachingGiven = true;
      return;
    }
    if (!parseInt64(value, n) || !writableCodePage(n))
      throw ProjectError(at.file, at.line, "codepage must be one whose texts orvmake writes exactly: 1252, 28591, 20127 or 65001");
    image.codePage = n;
  }

  void addMediaBlock(const SourceLine& at, const std::string& text, bool web) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos) throw ProjectError(at.file, at.line, "a media block needs NAME = folder");
    const std::vector<std::string> parts = splitParameters(text.substr(eq + 1));
    MediaBlock block;
    block.name = trim(text.substr(0, eq));
    block.folder = parts[0];
    block.at = at;
    block.web = web;
    // The name becomes a folder of the data folder and the archive's file name.
    bool plain = !block.name.empty() && block.name.size() <= 32;
    for (char c : block.name) plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-');
    if (!plain) throw ProjectError(at.file, at.line, "a media block needs a plain name (letters, digits, '_', '-'): \"" + block.name + "\"");
    if (web && equalsNoCase(block.name, kOfflineBlock))
      throw ProjectError(at.file, at.line, "OFFLINE is the offline block: name its folder with offline = folder");
    if (block.folder.empty()) throw ProjectError(at.file, at.line, "the media block " + block.name + " needs a folder");
    for (size_t i = 1; i < parts.size(); ++i) addBlockSetting(block, parts[i]);
    for (const MediaBlock& other : project.mediaBlocks)
      if (equalsNoCase(other.name, block.name))
        throw ProjectError(at.file, at.line, (web ? "the media block " + block.name : std::string("the offline block")) +
                                                 " is already named at " + placeOf(other.at, at));
    if (block.folder[0] != '/') block.folder = folderPart(at.file) + block.folder;
    project.mediaBlocks.push_back(std::move(block));
  }

  void addBlockSetting(MediaBlock& block, const std::string& setting) {
    const SourceLine& at = block.at;
    const size_t eq = setting.find('=');
    const std::string key = lower(trim(setting.substr(0, eq)));
    const std::string value = eq == std::string::npos ? std::string() : trim(setting.substr(eq + 1));
    if (key == "password") {
      if (!block.web) throw ProjectError(at.file, at.line, "the offline block travels unpacked and takes no password");
      if (!block.password.empty()) throw ProjectError(at.file, at.line, "the media block " + block.name + " has two passwords");
      if (value.empty() || hasControlCharacter(value))
        throw ProjectError(at.file, at.line, "the password of the media block " + block.name + " must be a text without control characters");
      block.password = value;
    } else if (key == "url") {
      if (!block.web) throw ProjectError(at.file, at.line, "the offline block comes with the setup and takes no URL");
      if (!isDownloadUrl(value))
        throw ProjectError(at.file, at.line, "\"" + value + "\" is not a download address (http://, https:// or ftp:// and a host, no blanks)");
      block.urls.push_back(value);
    } else {
      throw ProjectError(at.file, at.line, "unknown media block setting \"" + setting + "\" (password=..., url=...)");
    }
  }

  void addComponent(const SourceLine& at, const std::string& text) {
    const size_t eq = text.find('=');
    ComponentEntry component;
    component.name = upper(trim(text.substr(0, eq)));
    component.at = at;
    if (eq == std::string::npos || component.name.empty())
      throw ProjectError(at.file, at.line, "a component needs NAME = size, or NAME = block folders");
    if (component.name == "$" || hasControlCharacter(component.name) || component.name == "ZORN-PREDEF-COMPONENT")
      throw ProjectError(at.file, at.line, "\"" + component.name + "\" cannot name a component");
    for (const ComponentEntry& other : project.components)
      if (other.name == component.name)
        throw ProjectError(at.file, at.line, "the component " + component.name + " is already named at " + placeOf(other.at, at));
    const std::string value = trim(text.substr(eq + 1));
    if (!value.empty() && std::isdigit(static_cast<unsigned char>(value[0]))) {
      if (!parseInt64(value, component.size) || component.size < 0)
        throw ProjectError(at.file, at.line, "the size of " + component.name + " must be a number of bytes");
    } else {
      component.sources = splitParameters(value);
      for (const std::string& source : component.sources)
        if (source.empty()) throw ProjectError(at.file, at.line, "the component " + component.name + " names an empty block folder");
    }
    project.components.push_back(std::move(component));
  }

  void addPlugin(const SourceLine& at, const std::string& name) {
    if (name.empty() || name.find_first_of(":|") != std::string::npos || hasControlCharacter(name))
      throw ProjectError(at.file, at.line, "a plug-in command needs a name without \":\" or \"|\"");
    for (const std::string& other : image.pluginCommands)
      if (equalsNoCase(other, name)) throw ProjectError(at.file, at.line, "the plug-in command \"" + name + "\" is already declared");
    image.pluginCommands.push_back(name);
  }

  void addPage(const SourceLine& at, const std::string& text) {
    const size_t eq = text.find('=');
    PageEntry page;
    page.name = trim(text.substr(0, eq));
    page.at = at;
    if (!isPlainName(page.name))
      throw ProjectError(at.file, at.line, "a page needs a plain name (letters, digits, '_', '-', '.'): \"" + page.name + "\"");
    for (const PageEntry& other : project.pages)
      if (equalsNoCase(other.name, page.name))
        throw ProjectError(at.file, at.line, "the page \"" + page.name + "\" is already named at " + placeOf(other.at, at));
    if (eq != std::string::npos) {
      const std::vector<std::string> paths = splitParameters(text.substr(eq + 1));
      if (paths.size() > 2) throw ProjectError(at.file, at.line, "a page takes a design file and a rules file at most");
      auto resolve = [&](const std::string& p) { return p.empty() || p[0] == '/' ? p : folderPart(at.file) + p; };
      page.designPath = resolve(paths[0]);
      if (paths.size() == 2) page.rulesPath = resolve(paths[1]);
    }
    project.pages.push_back(std::move(page));
  }

  void addDraft(const SourceLine& at, const std::string& line) {
    DraftLine draft;
    draft.disabled = line.rfind("//", 0) == 0;
    const std::string text = draft.disabled ? trim(line.substr(2)) : line;
    const size_t colon = text.find(':');
    draft.command = trim(colon == std::string::npos ? text : text.substr(0, colon));
    if (draft.command.empty()) throw ProjectError(at.file, at.line, "a script line needs a command name");
    draft.hasParameters = colon != std::string::npos;
    if (draft.hasParameters) draft.parameterText = text.substr(colon + 1);
    draft.at = at;
    const std::string relative = at.file.rfind(root_, 0) == 0 ? at.file.substr(root_.size()) : at.file;
    draft.idSeed = relative + "*" + std::to_string(at.line) + "*" + std::to_string(drafts_.size());
    drafts_.push_back(std::move(draft));
  }

  bool isPlugin(const std::string& command) const {
    for (const std::string& name : image.pluginCommands)
      if (equalsNoCase(name, command)) return true;
    return false;
  }

  // The line's parameters as the engine will read them: checked against the command table, the
  // optional tail filled with empty texts. Plug-in lines carry what their library reads.
  std::vector<std::string> parametersOf(const DraftLine& draft) const {
    const SourceLine& at = draft.at;
    if (isPlugin(draft.command)) return draft.hasParameters ? splitParameters(draft.parameterText) : std::vector<std::string>();
    const CommandEntry* entry = findCommandEntry(draft.command);
    if (!entry) {
      if (draft.disabled) return draft.hasParameters ? splitParameters(draft.parameterText) : std::vector<std::string>();
      throw ProjectError(at.file, at.line, "unknown command \"" + draft.command + "\"" + unknownCommandHint(draft.command));
    }
    const CommandParameters expected = entry->parsed();
    const size_t count = expected.names.size();
    std::vector<std::string> params;
    if (draft.hasParameters) params = splitParameters(draft.parameterText, expected.lastTakesRest ? count : 0);
    if (count == 0 && params.size() == 1 && params[0].empty()) params.clear();  // "End:" with nothing after it
    if (params.size() > count) {
      throw ProjectError(at.file, at.line, "\"" + draft.command + "\" takes " + std::to_string(count) + " parameter" +
                                               (count == 1 ? "" : "s") + (count ? " (" + describeParameters(expected) + ")" : "") +
                                               ", the line gives " + std::to_string(params.size()));
    }
    if (params.size() < expected.required) {
      throw ProjectError(at.file, at.line, "\"" + draft.command + "\" needs " + std::to_string(expected.required) +
                                               " parameters before the optional ones (" + describeParameters(expected) +
                                               "), the line gives " + std::to_string(params.size()));
    }
    params.resize(count);
    return params;
  }

  // Names differ from the engine's only in letter case more often than in spelling.
  static std::string unknownCommandHint(const std::string& command) {
    for (const CommandEntry& entry : commandTable())
      if (equalsNoCase(entry.name, command)) return " (the engine knows \"" + std::string(entry.name) + "\")";
    return " (declare a plug-in command with: plugin " + command + ")";
  }

  void addScriptLine(const DraftLine& draft) {
    const std::vector<std::string> params = parametersOf(draft);
    const std::string id = derivedGuid(draft.idSeed);
    image.commands.push_back(draft.command);
    image.lineIds.push_back(id);
    image.disabled.push_back(draft.disabled ? "C" : "");
    image.mediaFolders.push_back("");
    image.sourcePositions.push_back(draft.at.file + "*" + std::to_string(draft.at.line - 1));
    project.scriptLines.push_back(draft.at);
    if (params.empty()) return;  // a line without parameters has no entry in the table
    image.parameters.push_back(id);
    image.parameters.insert(image.parameters.end(), params.begin(), params.end());
  }

  std::string root_;
  std::vector<std::string> open_;  // the files being read, outermost first
  std::vector<DraftLine> drafts_;
  std::map<std::string, SourceLine> fieldsAt_;
};

// The project position of a zero-based image line; the end of the project for errors of no line.
SourceLine positionOf(const Project& project, int64_t lineIndex) {
  if (lineIndex >= 0 && static_cast<size_t>(lineIndex) < project.scriptLines.size())
    return project.scriptLines[static_cast<size_t>(lineIndex)];
  return project.end;
}

// Every text reaches the engine in the project's code page: one that cannot hold it would change it.
void checkCodePage(const Project& project) {
  const SetupImage& image = project.image;
  const unsigned cp = static_cast<unsigned>(image.codePage);
  auto survives = [cp](const std::string& text) { return codePageToUtf8(utf8ToCodePage(text, cp), cp) == text; };
  auto fail = [&](const SourceLine& at, const std::string& text) {
    throw ProjectError(at.file, at.line, "\"" + text + "\" holds characters that code page " + std::to_string(cp) +
                                             " cannot show (choose another codepage)");
  };
  for (const std::string* field : {&image.title, &image.publisher, &image.contact, &image.helpLink, &image.updateInfoLink,
                                   &image.comments, &image.version, &image.defaultLanguage})
    if (!survives(*field)) fail(project.end, *field);
  std::map<std::string, size_t> lineOfId;
  for (size_t line = 0; line < image.lineCount(); ++line) {
    lineOfId.emplace(image.lineIds[line], line);
    if (!survives(image.commands[line])) fail(positionOf(project, static_cast<int64_t>(line)), image.commands[line]);
  }
  size_t current = 0;  // the parameter table runs line by line, each entry led by its line's identifier
  for (const std::string& parameter : image.parameters) {
    if (const auto it = lineOfId.find(parameter); it != lineOfId.end()) current = it->second;
    else if (!survives(parameter)) fail(positionOf(project, static_cast<int64_t>(current)), parameter);
  }
}

}  // namespace

Project readProject(const std::string& path) {
  Reader reader(path);
  reader.readFile(path, {});
  reader.finish(folderPart(path));
  return std::move(reader.project);
}

namespace {

// Whether an "Install Files" source ("DEMO", "DEMO\\bin") lies in the block.
bool sourceInBlock(std::string_view source, std::string_view block) {
  return startsWithNoCase(source, block) && (source.size() == block.size() || source[block.size()] == '\\' || source[block.size()] == '/');
}

void insertLine(Project& project, size_t at, const std::string& command, const std::vector<std::string>& params,
                const SourceLine& from) {
  SetupImage& image = project.image;
  const std::string id = derivedGuid("web-block*" + command + "*" + params[0]);
  // The parameter entries stay in script order: this one goes before the next line's entry.
  size_t position = image.parameters.size();
  const ImageIndex index(image);
  for (size_t line = at; line < image.lineCount() && position == image.parameters.size(); ++line)
    if (const size_t p = index.parameterPosition(line); p != std::string::npos) position = p;
  std::vector<std::string> entry = {id};
  entry.insert(entry.end(), params.begin(), params.end());
  image.parameters.insert(image.parameters.begin() + static_cast<std::ptrdiff_t>(position), entry.begin(), entry.end());
  const auto offset = static_cast<std::ptrdiff_t>(at);
  image.commands.insert(image.commands.begin() + offset, command);
  image.lineIds.insert(image.lineIds.begin() + offset, id);
  image.disabled.insert(image.disabled.begin() + offset, "");
  image.mediaFolders.insert(image.mediaFolders.begin() + offset, "");
  image.sourcePositions.insert(image.sourcePositions.begin() + offset, from.file + "*" + std::to_string(from.line - 1));
  project.scriptLines.insert(project.scriptLines.begin() + offset, from);
}

uint64_t bytesUnder(const fs::path& folder) {
  uint64_t total = 0;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator(); it.increment(error))
    if (it->is_regular_file()) total += it->file_size();
  return total;
}

}  // namespace

void addWebBlockLines(Project& project) {
  for (const MediaBlock& block : project.mediaBlocks) {
    if (!block.web || block.urls.empty()) continue;
    const SetupImage& image = project.image;
    const ImageIndex index(image);
    size_t first = image.lineCount();
    bool named = false;
    for (size_t line = 0; line < image.lineCount(); ++line) {
      if (image.commands[line] == "Web Media Block" && equalsNoCase(index.parameterOfLine(line, 1), block.name)) named = true;
      if (first == image.lineCount() && image.commands[line] == "Install Files" && !index.isDisabled(line) &&
          sourceInBlock(index.parameterOfLine(line, 1), block.name))
        first = line;
    }
    if (named || first == image.lineCount()) continue;
    std::string urls;
    for (const std::string& url : block.urls) urls += (urls.empty() ? "" : "$NEWLINE$") + url;
    insertLine(project, first, "Web Media Block", {block.name, urls, "FALSE"}, block.at);
  }
}

void planComponents(Project& project) {
  SetupImage& image = project.image;
  std::vector<std::pair<std::string, const MediaBlock*>> claimed;  // "BLOCK\\folder\\" prefixes of components
  std::vector<std::string> sizes;
  for (const ComponentEntry& component : project.components) {
    uint64_t size = component.size < 0 ? 0 : static_cast<uint64_t>(component.size);
    for (const std::string& source : component.sources) {
      std::string path = source;
      std::replace(path.begin(), path.end(), '/', '\\');
      while (!path.empty() && path.back() == '\\') path.pop_back();
      const size_t sep = path.find('\\');
      const std::string blockName = path.substr(0, sep), below = sep == std::string::npos ? "" : path.substr(sep + 1);
      const MediaBlock* block = nullptr;
      for (const MediaBlock& b : project.mediaBlocks)
        if (equalsNoCase(b.name, blockName)) block = &b;
      if (!block) throw ProjectError(component.at.file, component.at.line, "\"" + blockName + "\" is not a media block of the project");
      for (const std::string& part : split(below, "\\"))
        if (part == ".." || part == ".") throw ProjectError(component.at.file, component.at.line, "\"" + source + "\" leaves its media block");
      std::string folder = block->folder + "/" + below;
      std::replace(folder.begin(), folder.end(), '\\', '/');
      std::error_code error;
      if (!fs::is_directory(folder, error))
        throw ProjectError(component.at.file, component.at.line, "\"" + source + "\" is not a folder of the media block " + block->name);
      size += bytesUnder(folder);
      claimed.emplace_back(block->name + "\\" + (below.empty() ? "" : below + "\\"), block);
    }
    addAll(sizes, {component.name, std::to_string(size)});
  }
  // The installed files no component claims, counted as the install weight counts them: once per line.
  int64_t unclaimed = image.totalWeight;
  for (size_t i = 0; i + 1 < image.headerFiles.size(); i += 2) {
    const std::string& path = image.headerFiles[i];
    if (image.headerFiles[i + 1] == "NEWHEADER") continue;
    for (const auto& [prefix, block] : claimed) {
      if (!startsWithNoCase(path, prefix)) continue;
      std::string file = block->folder + "/" + path.substr(block->name.size() + 1);
      std::replace(file.begin(), file.end(), '\\', '/');
      std::error_code error;
      const uintmax_t size = fs::file_size(file, error);
      if (!error) unclaimed -= static_cast<int64_t>(size);
      break;
    }
  }
  image.componentSizes = {"ZORN-PREDEF-COMPONENT", std::to_string(std::max<int64_t>(unclaimed, 0))};
  image.componentSizes.insert(image.componentSizes.end(), sizes.begin(), sizes.end());
}

void checkProject(const Project& project) {
  checkCodePage(project);
  const ImageIndex index(project.image);
  VariableStore declarations;
  ScriptTables tables;
  const ScriptCheck check = checkScript(project.image, index, declarations, tables, expressionParses);
  if (check.accepted()) return;
  const SourceLine at = positionOf(project, check.result == kBlockCountMismatch ? -1 : check.result);
  throw ProjectError(at.file, at.line, check.message);
}

}  // namespace orv::make
