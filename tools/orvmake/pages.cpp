#include "orvmake/pages.h"

#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "core/design/design.h"
#include "core/text.h"

namespace orv::make {
namespace {

// The classes the page runtime registers; anything else would silently vanish from the page.
constexpr std::string_view kControlClasses[] = {
    "TLabel",        "TEdit",          "TMemo",          "TButton",           "TRzCheckBox",     "TRzRadioButton",
    "TListBox",      "TComboBox",      "TGroupBox",      "TPanel",            "TBitBtn",         "TSpeedButton",
    "TMaskEdit",     "TImage",         "TShape",         "TBevel",            "TStaticText",     "TGauge",
    "TPageControl",  "TTabSheet",      "TRichEdit",      "TTrackBar",         "TProgressBar",    "TUpDown",
    "TAnimate",      "TCheckListBox",  "TTreeView",      "THTMLViewer",       "TFileListBox",    "TDirectoryListBox",
    "TDriveComboBox", "TFilterComboBox", "TPTShellTree", "TPTShellList",      "TPTShellCombo",   "TFlashFrame",
    "TRzFormShape",  "TRzBmpButton",   "TVistaGlass",    "TGlowLabel",        "TAeroButton",     "TAeroPngImage",
    "TAeroBackButton", "TAeroPngButton",
};
constexpr std::string_view kDesignerComponent = "cmpFormDesigner";

bool isControlClass(std::string_view name) {
  for (std::string_view known : kControlClasses)
    if (equalsNoCase(known, name)) return true;
  return false;
}

std::string readTextFile(const std::string& path, const SourceLine& namedAt) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ProjectError(namedAt.file, namedAt.line, "cannot read the page file " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> linesOf(std::string_view text) {
  std::vector<std::string> lines = split(text, "\n");
  for (std::string& line : lines)
    if (!line.empty() && line.back() == '\r') line.pop_back();
  return lines;
}

// The line of each object declaration ("object Name: TClass"), in document order: the order in which
// a depth-first walk of the tree meets the objects.
std::vector<size_t> declarationLines(std::string_view text) {
  std::vector<size_t> at;
  const std::vector<std::string> lines = linesOf(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string line = trim(lines[i]);
    if (startsWithNoCase(line, "object ") || startsWithNoCase(line, "inherited ") || startsWithNoCase(line, "inline "))
      at.push_back(i + 1);
  }
  return at;
}

// "Invalid page design: message (line N)" -> "message", the line going to the file position.
std::string withoutPosition(const std::string& message) {
  std::string text = message;
  if (const size_t open = text.rfind(" (line "); open != std::string::npos && text.back() == ')') text.resize(open);
  return text;
}

class DesignCheck {
 public:
  DesignCheck(const std::string& file, std::string_view text) : file_(file), lines_(declarationLines(text)) {}

  void check(const design::Object& root) {
    next_ = 1;  // the root is the first declaration
    for (const design::Object& child : root.children) checkObject(child);
  }

  std::map<std::string, size_t> const& names() const { return names_; }

 private:
  void checkObject(const design::Object& o) {
    const size_t line = next_ < lines_.size() ? lines_[next_] : 0;
    ++next_;
    if (!equalsNoCase(o.name, kDesignerComponent)) {
      if (!isControlClass(o.className))
        throw ProjectError(file_, line, "the page runtime has no control class \"" + o.className + "\"");
      if (o.name.empty()) throw ProjectError(file_, line, "a control needs a name");
      const auto [it, added] = names_.emplace(upper(o.name), line);
      if (!added)
        throw ProjectError(file_, line, "the name \"" + o.name + "\" is already used at line " + std::to_string(it->second));
    }
    for (const design::Object& child : o.children) checkObject(child);
  }

  std::string file_;
  std::vector<size_t> lines_;
  size_t next_ = 0;
  std::map<std::string, size_t> names_;  // upper-cased component name -> line
};

// One rule as the runtime reads it: four characters dropped, then each part up to its delimiter.
struct RuleParts {
  std::string sourceComponent, targetComponent;
};

std::optional<RuleParts> ruleParts(std::string_view item) {
  if (item.size() < 4) return std::nullopt;
  std::string_view rest = item.substr(4);
  const std::string_view comparison = rest.find(" <> ") != std::string_view::npos ? " <> " : " = ";
  RuleParts parts;
  auto take = [&](std::string_view delimiter, std::string* into) {
    const size_t at = rest.find(delimiter);
    if (at == std::string_view::npos) return false;
    if (into) into->assign(rest.substr(0, at));
    rest.remove_prefix(at + delimiter.size());
    return true;
  };
  if (take(".", &parts.sourceComponent) && take(comparison, nullptr) && take(")  THEN  ", nullptr) &&
      take(".", &parts.targetComponent) && take(" := ", nullptr) && take(";", nullptr))
    return parts;
  return std::nullopt;
}

void checkRules(std::string_view rules, const std::string& file, const std::map<std::string, size_t>& components) {
  const std::vector<std::string> lines = linesOf(rules);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (trim(line).empty()) continue;
    const std::optional<RuleParts> parts = ruleParts(line);
    if (!parts)
      throw ProjectError(file, i + 1, "a rule reads IF (Control.Property = Value)  THEN  Control.Property := Value;");
    for (const std::string& component : {parts->sourceComponent, parts->targetComponent})
      if (!components.count(upper(component)))
        throw ProjectError(file, i + 1, "the rule names \"" + component + "\", which the page does not have");
  }
}

// Rules files are one rule per line with CR LF, as the runtime reads them.
std::string rulesFileText(std::string_view rules) {
  std::string out;
  for (const std::string& line : linesOf(rules))
    if (!trim(line).empty()) out += line + "\r\n";
  return out;
}

}  // namespace

const DefaultPage* findDefaultPage(std::string_view name) {
  for (const DefaultPage& page : defaultPages())
    if (equalsNoCase(page.name, name)) return &page;
  return nullptr;
}

std::vector<SupportFile> compilePageText(const std::string& name, std::string_view design, const std::string& designFile,
                                         std::string_view rules, const std::string& rulesFile, unsigned codePage) {
  design::Document doc;
  try {
    doc.root = design::readText(design, codePage);
  } catch (const design::DesignError& error) {
    throw ProjectError(designFile, error.at() == design::DesignError::At::Line ? error.position() : 0,
                       withoutPosition(error.what()));
  }
  DesignCheck check(designFile, design);
  check.check(doc.root);
  checkRules(rules, rulesFile, check.names());
  doc.header = design::standardHeader(doc.root);
  std::string binary;
  try {
    binary = design::writeBinary(doc, codePage);
  } catch (const design::DesignError& error) {  // a text the code page cannot hold in a short string
    throw ProjectError(designFile, 0, withoutPosition(error.what()));
  }
  return {{name + ".dfm", std::move(binary)}, {name + ".dfm.orvf", rulesFileText(rules)}};
}

std::vector<SupportFile> compilePage(const PageEntry& page, unsigned codePage) {
  std::string design, designFile, rules, rulesFile;
  const DefaultPage* fallback = findDefaultPage(page.name);
  if (!page.designPath.empty()) {
    designFile = page.designPath;
    design = readTextFile(page.designPath, page.at);
  } else if (fallback) {
    designFile = "default page " + std::string(fallback->name);
    design = fallback->design;
  } else {
    throw ProjectError(page.at.file, page.at.line,
                       "there is no default page \"" + page.name + "\": give the page a design file");
  }
  if (!page.rulesPath.empty()) {
    rulesFile = page.rulesPath;
    rules = readTextFile(page.rulesPath, page.at);
  } else if (page.designPath.empty()) {
    rulesFile = "default rules of " + std::string(fallback->name);
    rules = fallback->rules;
  }
  return compilePageText(page.name, design, designFile, rules, rulesFile, codePage);
}

std::vector<SupportFile> compilePages(const Project& project) {
  const unsigned codePage = project.image.codePage > 0 && project.image.codePage < 65536
                                ? static_cast<unsigned>(project.image.codePage)
                                : 1252;
  std::vector<SupportFile> files;
  for (const PageEntry& page : project.pages)
    for (SupportFile& file : compilePage(page, codePage)) files.push_back(std::move(file));
  return files;
}

void checkDialogLines(const Project& project, const std::vector<std::string>& supportFileNames) {
  const SetupImage& image = project.image;
  const ImageIndex index(image);
  for (size_t i = 0; i < image.lineCount(); ++i) {
    if (image.commands[i] != "Display Dialog" || image.disabled[i] == "C") continue;
    const std::string name(index.parameterOfLine(i, 1));
    bool found = false;
    for (const PageEntry& page : project.pages) found = found || equalsNoCase(page.name, name);
    for (const std::string& file : supportFileNames) found = found || equalsNoCase(file, name + ".dfm");
    if (!found) {
      const SourceLine& at = project.scriptLines[i];
      throw ProjectError(at.file, at.line,
                         "the dialog \"" + name + "\" has no page: name it with \"page " + name + "\" in the project");
    }
  }
}

}  // namespace orv::make
