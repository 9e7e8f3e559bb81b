// A setup project: product fields, wizard pages, support files, media blocks, components and script
// lines, read from a readable text file.
//
//   # comment
//   title = Demo Product            (product fields: title, version, publisher, contact, help, update,
//   version = 1.0                    comments, product-code, revision-code, codepage, language,
//   define NAME = value              language-dialog, caching; "define" adds a compiler constant)
//   resources = res                 (folder whose files go into the resource archive)
//   page welcome                    (a wizard page from the default set)
//   page license = pages/lic.txt    (the project's own page in the design text form ...)
//   page ready = pages/ready.txt | pages/ready.rules   (... and its rules file)
//   include other.orvp              (relative to the including file)
//   offline = files                 (the offline block: copied beside the setup into data\offline)
//   media DEMO = files              (a web block: the folder packed into DEMO.7zip beside the setup ...)
//   media DATA = data | password=secret | url=https://host/DATA.7zip   (... its archive password, mirrors)
//   component DOCS = 1048576        (a component's size in bytes for the feature pages ...)
//   component DOCS = DEMO\docs | DEMO\help   (... or the files of these block folders)
//   plugin Install Fonts            (a command that a plug-in library runs)
//   Install Files: DEMO\bin | *.dll | $TARGETDIR$ | ...   (the block, a folder in it, and a file mask)
//   Set Variable: TARGETDIR | C:\Demo
//   End
//   // Comment: a disabled line keeps its place in the script
//
// Paths are relative to the file that names them. A script line is the command name, and after a colon
// its parameters separated by "|" (blanks around each are trimmed; "\|" is a literal bar; "" is an empty
// parameter). Every line is checked against the engine's command table: unknown commands and surplus
// parameters are errors, left-out optional parameters are written as empty texts.
#pragma once
#include <stdexcept>
#include <cstdint>
#include <string>
#include <vector>

#include "core/image.h"

namespace orv::make {

class ProjectError : public std::runtime_error {
 public:
  ProjectError(const std::string& file, size_t line, const std::string& message)
      : std::runtime_error(file + ":" + std::to_string(line) + ": " + message) {}
};

// Where a project item was written, for error messages.
struct SourceLine {
  std::string file;
  size_t line = 0;
};

// A wizard page the project names. Empty paths mean the default set's design (and its rules, if any).
struct PageEntry {
  std::string name;        // dialog name: the ".dfm" base name that "Display Dialog" lines use
  std::string designPath;  // design text form
  std::string rulesPath;
  SourceLine at;
};

// The name of the offline block in the image's tables and of its folder in the data folder.
inline constexpr char kOfflineBlock[] = "OFFLINE";

// A media block the project names. A web block's folder travels as "<name>.7zip" beside the setup (or
// is downloaded from its URLs); the offline block (`web` false) travels unpacked in data\offline\.
struct MediaBlock {
  std::string name;
  std::string folder;
  SourceLine at;
  std::string password;           // plain archive password; empty for none
  bool web = true;
  std::vector<std::string> urls;  // download mirrors, in order
};

// A component of the size table: a fixed size, or the sizes of the files under block folders.
struct ComponentEntry {
  std::string name;                  // upper case, as the engine looks it up
  int64_t size = -1;                 // given size; -1 when computed from `sources`
  std::vector<std::string> sources;  // "BLOCK" or "BLOCK\folder"
  SourceLine at;
};

struct Project {
  SetupImage image;
  std::vector<PageEntry> pages;
  std::string resourceFolder;  // empty: the archive holds only the pages
  std::vector<MediaBlock> mediaBlocks;
  std::vector<ComponentEntry> components;
  bool cachingGiven = false;  // the project chose the caching mode itself
  std::vector<SourceLine> scriptLines;  // where each script line of the image was written
  SourceLine end;                       // the last line of the project file, for errors of no line
};

// Reads the project (identifiers derived from the project, so the same project always gives the same
// image).
Project readProject(const std::string& path);

// Puts a "Web Media Block" line (name, URLs, "FALSE") in front of the first enabled "Install Files" line
// of every web block with URLs that no line of the script names already. Call before planMedia, which
// numbers the lines.
void addWebBlockLines(Project& project);

// Fills the component size table after planMedia: "ZORN-PREDEF-COMPONENT" first with the bytes of the
// installed files that no component claims, then every component with its given size or the bytes of
// the files under its block folders. Throws ProjectError at a component that names no block folder.
void planComponents(Project& project);

// Runs the engine's own start-up checks on the finished image (after planMedia) and that every text
// survives the project's code page; throws ProjectError at the failing line's project position.
void checkProject(const Project& project);

}  // namespace orv::make
