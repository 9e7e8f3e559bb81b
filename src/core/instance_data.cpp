#include "core/instance_data.h"

#include <algorithm>

#include "core/codepage.h"
#include "core/text.h"
#include "core/variables.h"

namespace orv {
namespace {

constexpr std::string_view kEndOfList = "$";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr size_t kListCount = 6;
constexpr size_t kSingleLines = 4;  // TARGETDIR, ALLUSERS, STARTMENU, data folder

// Splits at CR LF only: a lone CR or LF inside a value stays part of its line. A text ending in CR LF
// has no further (empty) line.
std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find(kLineEnd, start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + kLineEnd.size();
  }
  return lines;
}

void appendLine(std::string& out, std::string_view line) {
  out += newlineToText(line);
  out += kLineEnd;
}

void appendList(std::string& out, const std::vector<std::string>& items, std::string_view what) {
  for (const std::string& item : items) {
    if (item == kEndOfList) throw InstanceDataError("The " + std::string(what) + " list holds an item \"$\".");
    appendLine(out, item);
  }
  out += kEndOfList;
  out += kLineEnd;
}

void appendPair(std::string& out, std::string_view name, std::string_view value) {
  appendLine(out, name);
  appendLine(out, value);
}

// Position just behind the sixth end line and the four single lines, or npos.
size_t endOfFixedPart(const std::vector<std::string>& lines) {
  size_t i = 0;
  for (size_t list = 0; list < kListCount; ++list) {
    while (i < lines.size() && lines[i] != kEndOfList) ++i;
    if (i == lines.size()) return std::string::npos;
    ++i;
  }
  return lines.size() - i < kSingleLines ? std::string::npos : i + kSingleLines;
}

bool isBracedCode(std::string_view s) { return s.size() > 2 && s.front() == '{' && s.back() == '}'; }

}  // namespace

InstanceData parseInstanceData(std::string_view text) {
  const std::vector<std::string> lines = splitLines(text);
  InstanceData data;
  std::vector<std::string>* lists[kListCount] = {&data.names, &data.states, &data.deleted,
                                                 &data.hidden, &data.fixed, &data.sizes};
  size_t i = 0;
  for (size_t list = 0; list < kListCount; ++list) {
    while (i < lines.size() && lines[i] != kEndOfList) lists[list]->push_back(lines[i++]);
    if (i == lines.size())
      throw InstanceDataError("The instance data end after " + std::to_string(list) + " of their six lists.");
    ++i;
  }
  if (data.states.size() > data.names.size())
    throw InstanceDataError("The instance data hold more selection states than components.");
  if (data.sizes.size() % 2 != 0) throw InstanceDataError("The instance data's size table has a name without a size.");
  if (lines.size() - i < kSingleLines)
    throw InstanceDataError("The instance data lack the target folder, all-users, start menu or data folder line.");
  data.targetDir = lines[i++];
  data.allUsers = lines[i++];
  data.startMenu = lines[i++];
  data.dataFolder = lines[i++];
  if ((lines.size() - i) % 2 != 0)
    throw InstanceDataError("The instance data's variable \"" + lines.back() + "\" has no value.");
  size_t settingsLeft = 0;
  for (; i < lines.size(); i += 2) {
    NamedValue pair{lines[i], lines[i + 1]};
    if (settingsLeft > 0) {
      --settingsLeft;
      data.settings.push_back(std::move(pair));
    } else if (equalsNoCase(pair.first, "ZORN64WOW")) {
      data.platform = std::move(pair.second);
      settingsLeft = 2;
    } else {
      data.variables.push_back(std::move(pair));
    }
  }
  return data;
}

std::string formatInstanceData(const InstanceData& data) {
  std::string out;
  appendList(out, data.names, "component");
  appendList(out, data.states, "selection state");
  appendList(out, data.deleted, "deleted component");
  appendList(out, data.hidden, "hidden component");
  appendList(out, data.fixed, "fixed component");
  appendList(out, data.sizes, "component size");
  for (const std::string* line : {&data.targetDir, &data.allUsers, &data.startMenu, &data.dataFolder})
    appendLine(out, *line);
  for (const auto& [name, value] : data.variables) appendPair(out, name, value);
  if (data.platform) appendPair(out, "ZORN64WOW", *data.platform);
  for (const auto& [name, value] : data.settings) appendPair(out, name, value);
  return out;
}

std::string updatedInstanceData(std::string_view oldText, const std::vector<NamedValue>& variables,
                                std::string_view platform, std::string_view overrideCache,
                                std::string_view nativeEngine) {
  const std::vector<std::string> lines = splitLines(oldText);
  const size_t kept = endOfFixedPart(lines);
  if (kept == std::string::npos)
    throw InstanceDataError("The instance data lack their six lists or the four lines after them.");
  std::string out;
  for (size_t i = 0; i < kept; ++i) {
    out += lines[i];
    out += kLineEnd;
  }
  for (const auto& [name, value] : variables) appendPair(out, name, value);
  appendPair(out, "ZORN64WOW", platform);
  appendPair(out, "OVERRIDECACHE", overrideCache);
  appendPair(out, "NATIVE_ENGINE", nativeEngine);
  return out;
}

void mergeComponents(ComponentLists& current, const InstanceData& loaded, InstanceLoadMode mode) {
  if (mode == InstanceLoadMode::Update) {
    for (size_t i = 0; i < loaded.names.size() && i < loaded.states.size(); ++i)
      for (size_t k = 0; k < current.names.size(); ++k)
        if (equalsNoCase(current.names[k], loaded.names[i])) {
          if (current.states.size() <= k) current.states.resize(k + 1);
          current.states[k] = loaded.states[i];
        }
    current.deleted = loaded.deleted;
    current.hidden = loaded.hidden;
    current.fixed = loaded.fixed;
    return;
  }
  // States stay parallel to names even when the file held fewer states than names.
  current.states.resize(current.names.size());
  current.names.insert(current.names.end(), loaded.names.begin(), loaded.names.end());
  current.states.insert(current.states.end(), loaded.states.begin(), loaded.states.end());
  current.states.resize(current.names.size());
  current.deleted.insert(current.deleted.end(), loaded.deleted.begin(), loaded.deleted.end());
  current.hidden.insert(current.hidden.end(), loaded.hidden.begin(), loaded.hidden.end());
  current.fixed.insert(current.fixed.end(), loaded.fixed.begin(), loaded.fixed.end());
  if (mode == InstanceLoadMode::Full) current.sizes.insert(current.sizes.end(), loaded.sizes.begin(), loaded.sizes.end());
}

std::string encodeInstanceFile(std::string_view text, unsigned codePage) {
  std::string ansi = utf8ToCodePage(text, codePage);
  if (codePageToUtf8(ansi, codePage) == text) return ansi;
  std::string out(kUtf8Mark);
  out += text;
  return out;
}

std::string decodeInstanceFile(std::string_view bytes, unsigned codePage) {
  if (bytes.substr(0, kUtf8Mark.size()) == kUtf8Mark) return std::string(bytes.substr(kUtf8Mark.size()));
  return codePageToUtf8(bytes, codePage);
}

std::string formatLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) appendLine(out, line);
  return out;
}

std::vector<std::string> parseLines(std::string_view text) { return splitLines(text); }

std::string formatInstanceIdentity(const InstanceIdentity& identity) {
  return formatLines({identity.productCode, identity.revisionCode, identity.title});
}

std::optional<InstanceIdentity> parseInstanceIdentity(std::string_view text) {
  const std::vector<std::string> lines = splitLines(text);
  if (lines.size() < 2) return std::nullopt;
  InstanceIdentity id{trim(lines[0]), trim(lines[1]), lines.size() > 2 ? lines[2] : std::string()};
  if (!isBracedCode(id.productCode) || !isBracedCode(id.revisionCode)) return std::nullopt;
  return id;
}

}  // namespace orv
