#include "core/image.h"

#include "core/codepage.h"
#include "core/text.h"

namespace orv {
namespace {

class LineReader {
 public:
  explicit LineReader(std::string_view bytes) : bytes_(bytes) {}

  bool atEnd() const { return pos_ >= bytes_.size(); }

  // One line without its line break (CR LF, or a lone LF).
  std::string_view next(const char* section) {
    if (atEnd()) throw ImageError(std::string("The setup image is incomplete: it ends before section ") + section +
                                  ". Please rebuild your project.");
    const size_t nl = bytes_.find('\n', pos_);
    size_t end = nl == std::string_view::npos ? bytes_.size() : nl;
    std::string_view line = bytes_.substr(pos_, end - pos_);
    pos_ = nl == std::string_view::npos ? bytes_.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
  }

  std::vector<std::string> list(const char* section) {
    std::vector<std::string> lines;
    for (;;) {
      if (atEnd())
        throw ImageError(std::string("The setup image is incomplete: section ") + section +
                         " has no end. Please rebuild your project.");
      std::string_view line = next(section);
      if (line == "$") return lines;
      lines.emplace_back(line);
    }
  }

  int64_t integer(const char* section) {
    const std::string line = trimLeft(next(section));
    // Read the leading decimal number; the rest of the line is skipped.
    size_t n = 0;
    if (n < line.size() && (line[n] == '-' || line[n] == '+')) ++n;
    while (n < line.size() && line[n] >= '0' && line[n] <= '9') ++n;
    int64_t value;
    if (!parseInt64(line.substr(0, n), value))
      throw ImageError(std::string("The setup image is damaged: section ") + section + " does not hold a number.");
    return value;
  }

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
};

void decodeDollarWords(std::vector<std::string>& parameters) {
  for (std::string& p : parameters)
    if (equalsNoCase(p, "$WILD_DOLLAR$") || equalsNoCase(p, "$DOLLAR$")) p = "$";
}

void convertAll(SetupImage& img, unsigned cp) {
  auto conv = [cp](std::string& s) {
    bool ascii = true;
    for (unsigned char c : s) ascii &= c < 0x80;
    if (!ascii) s = codePageToUtf8(s, cp);
  };
  for (auto* list : {&img.commands, &img.lineIds, &img.parameters, &img.disabled, &img.pluginCommands,
                     &img.mediaPasswords, &img.mediaFolders, &img.componentSizes, &img.mediaFiles,
                     &img.commandHeaders, &img.compilerVariables, &img.sourcePositions, &img.headerFiles})
    for (std::string& s : *list) conv(s);
  for (auto* s : {&img.productCode, &img.title, &img.publisher, &img.contact, &img.helpLink, &img.updateInfoLink,
                  &img.comments, &img.version, &img.revisionCode, &img.languageDialog, &img.defaultLanguage})
    conv(*s);
}

}  // namespace

SetupImage readImage(std::string_view bytes) {
  LineReader r(bytes);
  SetupImage img;
  img.commands = r.list("A");
  img.lineIds = r.list("B");
  img.parameters = r.list("C");
  decodeDollarWords(img.parameters);
  img.disabled = r.list("D");
  img.productCode = r.next("E");
  img.title = r.next("F");
  img.pluginCommands = r.list("G");
  img.publisher = r.next("H1");
  img.contact = r.next("H2");
  img.helpLink = r.next("H3");
  img.updateInfoLink = r.next("H4");
  img.comments = r.next("H5");
  img.version = r.next("H6");
  img.mediaPasswords = r.list("I");
  img.mediaFolders = r.list("J");
  img.cachingMode = r.integer("K");
  img.componentSizes = r.list("L");
  img.revisionCode = r.next("M");
  img.mediaFiles = r.list("N");
  img.languageDialog = r.next("O");
  img.defaultLanguage = r.next("P");
  img.commandHeaders = r.list("Q");
  img.compilerVariables = r.list("R");
  img.codePage = r.integer("S");
  img.sourcePositions = r.list("T");
  img.totalWeight = r.integer("U");
  img.headerFiles = r.list("V");
  const unsigned cp = (img.codePage > 0 && img.codePage <= 65535) ? static_cast<unsigned>(img.codePage) : 1252;
  convertAll(img, cp);
  return img;
}

namespace {

class ImageWriter {
 public:
  explicit ImageWriter(unsigned cp) : cp_(cp) {}

  void line(std::string_view text, const char* section) {
    if (text.find_first_of("\r\n") != std::string_view::npos)
      throw ImageError(std::string("section ") + section + ": a line cannot hold a line break");
    out_ += utf8ToCodePage(text, cp_);
    out_ += "\r\n";
  }

  void list(const std::vector<std::string>& lines, const char* section, bool encodeDollar = false) {
    for (const std::string& l : lines) {
      if (l == "$") {
        if (!encodeDollar) throw ImageError(std::string("section ") + section + ": a line cannot be \"$\" alone");
        line("$DOLLAR$", section);
      } else {
        line(l, section);
      }
    }
    out_ += "$\r\n";
  }

  std::string take() { return std::move(out_); }

 private:
  unsigned cp_;
  std::string out_;
};

}  // namespace

std::string writeImage(const SetupImage& img) {
  const unsigned cp = (img.codePage > 0 && img.codePage <= 65535) ? static_cast<unsigned>(img.codePage) : 1252;
  ImageWriter w(cp);
  w.list(img.commands, "A");
  w.list(img.lineIds, "B");
  w.list(img.parameters, "C", true);
  w.list(img.disabled, "D");
  w.line(img.productCode, "E");
  w.line(img.title, "F");
  w.list(img.pluginCommands, "G");
  w.line(img.publisher, "H1");
  w.line(img.contact, "H2");
  w.line(img.helpLink, "H3");
  w.line(img.updateInfoLink, "H4");
  w.line(img.comments, "H5");
  w.line(img.version, "H6");
  w.list(img.mediaPasswords, "I");
  w.list(img.mediaFolders, "J");
  w.line(std::to_string(img.cachingMode), "K");
  w.list(img.componentSizes, "L");
  w.line(img.revisionCode, "M");
  w.list(img.mediaFiles, "N");
  w.line(img.languageDialog, "O");
  w.line(img.defaultLanguage, "P");
  w.list(img.commandHeaders, "Q");
  w.list(img.compilerVariables, "R");
  w.line(std::to_string(img.codePage), "S");
  w.list(img.sourcePositions, "T");
  w.line(std::to_string(img.totalWeight), "U");
  w.list(img.headerFiles, "V");
  return w.take();
}

ImageIndex::ImageIndex(const SetupImage& image) : image_(image) {
  for (size_t i = 0; i < image.parameters.size(); ++i) paramIndex_.emplace(foldKey(image.parameters[i]), i);
  for (size_t i = 0; i < image.lineIds.size(); ++i) lineIndex_.emplace(foldKey(image.lineIds[i]), i);
  for (size_t i = 0; i + 1 < image.commandHeaders.size(); i += 2) {
    int64_t line;
    if (parseInt64(image.commandHeaders[i + 1], line) && line >= 0)
      headerByLine_.emplace(static_cast<size_t>(line), i);
  }
}

std::string_view ImageIndex::parameter(std::string_view lineId, size_t k) const {
  auto it = paramIndex_.find(foldKey(lineId));
  if (it == paramIndex_.end()) return {};
  const size_t pos = it->second + k;
  return pos < image_.parameters.size() ? std::string_view(image_.parameters[pos]) : std::string_view();
}

std::string_view ImageIndex::parameterOfLine(size_t lineIndex, size_t k) const {
  if (lineIndex >= image_.lineIds.size()) return {};
  return parameter(image_.lineIds[lineIndex], k);
}

size_t ImageIndex::parameterPosition(size_t lineIndex) const {
  if (lineIndex >= image_.lineIds.size()) return std::string_view::npos;
  auto it = paramIndex_.find(foldKey(image_.lineIds[lineIndex]));
  return it == paramIndex_.end() ? std::string_view::npos : it->second;
}

bool ImageIndex::isDisabled(size_t lineIndex) const {
  return lineIndex < image_.disabled.size() && image_.disabled[lineIndex] == "C";
}

int64_t ImageIndex::lineOfId(std::string_view lineId) const {
  auto it = lineIndex_.find(foldKey(lineId));
  return it == lineIndex_.end() ? -1 : static_cast<int64_t>(it->second);
}

std::string_view ImageIndex::headerOfLine(size_t lineIndex) const {
  auto it = headerByLine_.find(lineIndex);
  return it == headerByLine_.end() ? std::string_view() : std::string_view(image_.commandHeaders[it->second]);
}

std::vector<std::pair<std::string, std::string>> ImageIndex::headerFiles(std::string_view headerId) const {
  std::vector<std::pair<std::string, std::string>> files;
  const auto& v = image_.headerFiles;
  for (size_t i = 0; i + 1 < v.size(); i += 2) {
    if (v[i + 1] != "NEWHEADER" || !equalsNoCase(v[i], headerId)) continue;
    for (size_t j = i + 2; j + 1 < v.size() && v[j + 1] != "NEWHEADER"; j += 2) files.emplace_back(v[j], v[j + 1]);
    break;
  }
  return files;
}

std::string ImageIndex::mediaPassword(std::string_view blockName) const {
  const auto& v = image_.mediaPasswords;
  for (size_t i = 0; i + 1 < v.size(); i += 2)
    if (equalsNoCase(v[i], blockName)) return v[i + 1];
  return {};
}

std::vector<std::pair<std::string, std::string>> ImageIndex::compilerConstants() const {
  std::vector<std::pair<std::string, std::string>> pairs;
  const auto& v = image_.compilerVariables;
  for (size_t i = 0; i + 1 < v.size(); i += 2) pairs.emplace_back(v[i], v[i + 1]);
  return pairs;
}

}  // namespace orv
