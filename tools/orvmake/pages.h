// Wizard pages of a project: each design text becomes the binary design file the page runtime loads
// ("<name>.dfm": resource header and component stream) and its rules become "<name>.dfm.orvf". A page
// named without files comes from the default set (tools/orvmake/pages), built into the tool.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "orvmake/project.h"

namespace orv::make {

struct DefaultPage {
  std::string_view name;
  std::string_view design;  // design text form
  std::string_view rules;   // rules file text, empty when the page has none
};
const std::vector<DefaultPage>& defaultPages();
const DefaultPage* findDefaultPage(std::string_view name);

// A support file of the resource archive: its name there and its bytes.
struct SupportFile {
  std::string name;
  std::string bytes;
};

// The design file and the rules file of one page. Throws ProjectError naming the design or rules file
// and the line for anything malformed: text the design reader refuses, a class the runtime does not
// know, a component name used twice, a rule that does not read as one.
std::vector<SupportFile> compilePage(const PageEntry& page, unsigned codePage);

// The same for text already in memory; `designFile` and `rulesFile` name them in errors.
std::vector<SupportFile> compilePageText(const std::string& name, std::string_view design, const std::string& designFile,
                                         std::string_view rules, const std::string& rulesFile, unsigned codePage);

// Every page of the project, compiled in memory; the first malformed one throws.
std::vector<SupportFile> compilePages(const Project& project);

// Every enabled "Display Dialog" line must find its design: a page of the project or a ".dfm" among
// the support files. Throws ProjectError at the first line that would not.
void checkDialogLines(const Project& project, const std::vector<std::string>& supportFileNames);

}  // namespace orv::make
