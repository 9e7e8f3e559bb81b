// A setup project: product fields, wizard pages, support files and script lines, read from a readable
// text file.
//
//   # comment
//   title = Demo Product            (product fields: title, version, publisher, contact, help,
//   version = 1.0                    update, comments, product-code, revision-code, codepage,
//   define NAME = value              language, caching; "define" adds a compiler constant)
//   resources = res                 (folder whose files go into the resource archive)
//   page welcome                    (a wizard page from the default set)
//   page license = pages/lic.txt    (the project's own page in the design text form ...)
//   page ready = pages/ready.txt | pages/ready.rules   (... and its rules file)
//   include other.orvp              (relative to the including file)
//   media DEMO = files              (a media block: the folder packed into DEMO.7zip beside the setup)
//   Install Files: DEMO\bin | *.dll | $TARGETDIR$ | ...   (the block, a folder in it, and a file mask)
//   Set Variable: TARGETDIR | C:\Demo | FALSE
//   End
//   // Comment: a disabled line keeps its place in the script
//
// Paths are relative to the file that names them. A script line is the command name, and after a colon
// its parameters separated by "|" (blanks around each are trimmed; "\|" is a literal bar; "" is an empty
// parameter).
#pragma once
#include <stdexcept>
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

// A media block the project names: a folder whose files travel in "<name>.7zip" beside the setup.
struct MediaBlock {
  std::string name;
  std::string folder;
  SourceLine at;
  std::string password;           // plain archive password; empty for none
};

struct Project {
  SetupImage image;
  std::vector<PageEntry> pages;
  std::string resourceFolder;  // empty: the archive holds only the pages
  std::vector<MediaBlock> mediaBlocks;
  bool cachingGiven = false;  // the project chose the caching mode itself
  std::vector<SourceLine> scriptLines;  // where each script line of the image was written
};

// Reads the project (identifiers derived from the project, so the same project always gives the same
// image).
Project readProject(const std::string& path);

}  // namespace orv::make
