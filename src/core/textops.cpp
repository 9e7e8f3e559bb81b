#include "core/textops.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "core/text.h"
#include "core/variables.h"

namespace orv {

ConversionError::ConversionError(std::string_view text)
    : std::runtime_error("'" + std::string(text) + "' is not a valid integer value") {}

namespace {

template <typename Int>
std::optional<Int> toInteger(std::string_view text) {
  if (!isIntegerText(text)) return std::nullopt;
  const bool negative = text.front() == '-';
  if (text.front() == '+' || text.front() == '-') text.remove_prefix(1);
  // Accumulate the magnitude as unsigned, so the most negative value fits too.
  using Magnitude = std::make_unsigned_t<Int>;
  const Magnitude limit = negative ? Magnitude(std::numeric_limits<Int>::max()) + 1u
                                   : Magnitude(std::numeric_limits<Int>::max());
  Magnitude value = 0;
  for (char c : text) {
    const auto digit = static_cast<Magnitude>(c - '0');
    if (value > (limit - digit) / 10u) return std::nullopt;
    value = static_cast<Magnitude>(value * 10u + digit);
  }
  if (!negative) return static_cast<Int>(value);
  return value == limit ? std::numeric_limits<Int>::min() : static_cast<Int>(-static_cast<Int>(value));
}

// Where `what` occurs in `text` from byte `from`: the byte position and the byte length of the match
// (a match ignoring case may differ in length from `what` for letters whose cases differ in width).
struct Match {
  size_t position = std::string_view::npos;
  size_t length = 0;
};

Match findMatch(std::string_view text, std::string_view what, size_t from, bool ignoreCase) {
  Match m;
  if (!ignoreCase) {
    m.position = text.find(what, from);
    m.length = what.size();
    return m;
  }
  m.position = findNoCase(text, what, from);
  if (m.position == std::string_view::npos) return m;
  size_t end = m.position;
  for (size_t k = 0; k < what.size() && end < text.size();) {
    decodeUtf8(text, end);
    decodeUtf8(what, k);
  }
  m.length = end - m.position;
  return m;
}

std::u32string searchForm(std::string_view text, bool ignoreCase) {
  std::u32string chars = toUtf32(text);
  if (ignoreCase)
    for (char32_t& c : chars) c = lowerChar(c);
  return chars;
}

// 1-based position of the first or last occurrence; 0 when there is none (an empty delimiter never
// occurs).
int64_t occurrence(const std::u32string& text, const std::u32string& what, bool last) {
  if (what.empty()) return 0;
  const size_t at = last ? text.rfind(what) : text.find(what);
  return at == std::u32string::npos ? 0 : static_cast<int64_t>(at) + 1;
}

// Byte offset of every character of a UTF-8 text, and of its end; the parts are cut from the original
// bytes, so a malformed byte comes back as it was.
std::vector<size_t> characterOffsets(std::string_view text) {
  std::vector<size_t> offsets;
  offsets.reserve(text.size() + 1);
  for (size_t i = 0; i < text.size();) {
    offsets.push_back(i);
    decodeUtf8(text, i);
  }
  offsets.push_back(text.size());
  return offsets;
}

// `count` characters from the 1-based character `start` (a start before the first counts as the first).
std::string characters(std::string_view text, const std::vector<size_t>& offsets, int64_t start, int64_t count) {
  const auto length = static_cast<int64_t>(offsets.size()) - 1;
  start = std::max<int64_t>(start, 1);
  if (count <= 0 || start > length) return {};
  const int64_t end = start - 1 + std::min(count, length - start + 1);
  const size_t from = offsets[static_cast<size_t>(start - 1)];
  return std::string(text.substr(from, offsets[static_cast<size_t>(end)] - from));
}

}  // namespace

bool isIntegerText(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<int32_t> toInt32(std::string_view text) { return toInteger<int32_t>(text); }
std::optional<int64_t> toInt64(std::string_view text) { return toInteger<int64_t>(text); }

int32_t toInt32OrThrow(std::string_view text) {
  const std::optional<int32_t> value = toInt32(text);
  if (!value) throw ConversionError(text);
  return *value;
}

namespace {

constexpr std::string_view kNewlineToken = "$NEWLINE$";

// Byte ranges of the "$NEWLINE$" tokens of a text, in order.
std::vector<size_t> newlineTokens(std::string_view text) {
  std::vector<size_t> starts;
  for (size_t at = text.find(kNewlineToken); at != std::string_view::npos; at = text.find(kNewlineToken, at + 1))
    if (starts.empty() || at >= starts.back() + kNewlineToken.size()) starts.push_back(at);
  return starts;
}

// Whether the byte position lies strictly inside one of the tokens (not at its first byte).
bool insideToken(const std::vector<size_t>& tokens, size_t position) {
  auto after = std::upper_bound(tokens.begin(), tokens.end(), position);
  if (after == tokens.begin()) return false;
  const size_t start = *(after - 1);
  return position > start && position < start + kNewlineToken.size();
}

size_t nextCharacter(std::string_view text, size_t position) {
  decodeUtf8(text, position);
  return position;
}

// Replaces matches that leave every "$NEWLINE$" token whole: a match may cover tokens but never
// begin or end inside one (so "line" cannot eat into a line break).
std::string replaceKeepingTokens(std::string_view text, std::string_view what, std::string_view with,
                                 bool ignoreCase, bool everyOccurrence) {
  if (what.empty()) return std::string(text);
  const std::vector<size_t> tokens = newlineTokens(text);
  std::string out;
  size_t copied = 0, from = 0;
  while (from < text.size()) {
    const Match m = findMatch(text, what, from, ignoreCase);
    if (m.position == std::string_view::npos) break;
    if (insideToken(tokens, m.position) || insideToken(tokens, m.position + m.length)) {
      from = nextCharacter(text, m.position);
      continue;
    }
    out.append(text.substr(copied, m.position - copied));
    out.append(with);
    copied = from = m.position + m.length;
    if (!everyOccurrence) break;
  }
  out.append(text.substr(copied));
  return out;
}

}  // namespace

std::string replaceText(std::string_view text, std::string_view what, std::string_view with, bool ignoreCase,
                        bool everyOccurrence) {
  if (what.empty()) return std::string(text);
  std::string out;
  size_t pos = 0;
  for (;;) {
    const Match m = findMatch(text, what, pos, ignoreCase);
    if (m.position == std::string_view::npos) break;
    out.append(text.substr(pos, m.position - pos));
    out.append(with);
    pos = m.position + m.length;
    if (!everyOccurrence) break;
  }
  out.append(text.substr(pos));
  return out;
}

std::string replaceStringValue(std::string_view value, std::string_view what, std::string_view with,
                               bool ignoreCase, bool everyOccurrence) {
  return replaceKeepingTokens(newlineToText(value), newlineToText(what), newlineToText(with), ignoreCase,
                              everyOccurrence);
}

std::string driveOf(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') return std::string(path.substr(0, 2));
  if (path.size() < 2 || path.substr(0, 2) != "\\\\") return {};
  // "\\server\share": up to the backslash after the share, or the whole text.
  const size_t server = path.find('\\', 2);
  if (server == std::string_view::npos) return std::string(path);
  const size_t share = path.find('\\', server + 1);
  return std::string(path.substr(0, share));
}

bool hasDriveOrShare(std::string_view path) { return !driveOf(path).empty(); }

std::string extractPathPart(std::string_view path, int64_t part) {
  switch (part) {
    case int(PathPart::FileName): return fileNameOf(path);
    case int(PathPart::BaseName): return withoutExtension(fileNameOf(path));
    case int(PathPart::Extension): {
      const std::string name = fileNameOf(path);
      const size_t dot = name.rfind('.');
      return dot == std::string::npos ? std::string() : name.substr(dot + 1);
    }
    case int(PathPart::Folder): return folderOf(path);
    case int(PathPart::ParentFolder): {
      std::string folder = folderOf(path);
      if (!folder.empty() && folder.back() == '\\') folder.pop_back();
      const std::string parent = folderOf(folder);
      return parent.empty() ? parent : withTrailingBackslash(parent);
    }
    case int(PathPart::Drive): {
      const std::string drive = driveOf(path);
      return drive.empty() ? drive : withTrailingBackslash(drive);
    }
    case int(PathPart::SingleBackslashes): return replaceAll(path, "\\\\", "\\", false);
    default: return std::string(path);
  }
}

ParsedParts parseString(std::string_view source, std::string_view delimiter, int64_t method, bool trimParts,
                        bool ignoreCase) {
  const std::vector<size_t> offsets = characterOffsets(source);
  const std::u32string searchText = searchForm(source, ignoreCase);
  const std::u32string searchDelimiter = searchForm(delimiter, ignoreCase);
  const auto length = static_cast<int64_t>(offsets.size()) - 1;

  // The split: first part = characters 1 to P - J, second part = from character P + K.
  int64_t p = 0;
  int64_t k = static_cast<int64_t>(searchDelimiter.size());
  int64_t j = 1;
  switch (method) {
    case int(ParseMethod::FirstOccurrence):
      p = occurrence(searchText, searchDelimiter, false);
      if (p == 0) p = length + 1;
      break;
    case int(ParseMethod::LastOccurrence):
      p = occurrence(searchText, searchDelimiter, true);
      if (p == 0) {
        p = 1;
        k = 0;
      }
      break;
    case int(ParseMethod::FirstCharacters):
    case int(ParseMethod::LastCharacters): {
      const std::optional<int32_t> n = toInt32(delimiter);
      if (!n) break;
      k = 1;
      j = 0;
      p = method == int(ParseMethod::FirstCharacters) ? *n : length - *n;
      if (method == int(ParseMethod::FirstCharacters) && *n == 0) {
        p = 1;
        j = 1;
        k = -1;
      }
      break;
    }
    default: break;
  }

  ParsedParts parts;
  if (p == 0) return parts;
  parts.before = characters(source, offsets, 1, p - j);
  parts.after = characters(source, offsets, p + k, length);
  if (trimParts) {
    parts.before = trim(parts.before);
    parts.after = trim(parts.after);
  }
  return parts;
}

}  // namespace orv
