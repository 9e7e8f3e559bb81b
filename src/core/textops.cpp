#include "core/textops.h"

#include <algorithm>
#include <limits>

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

std::string characters(const std::u32string& text, int64_t start, int64_t count) {
  const auto length = static_cast<int64_t>(text.size());
  start = std::max<int64_t>(start, 1);
  if (count <= 0 || start > length) return {};
  count = std::min(count, length - start + 1);
  return fromUtf32(std::u32string_view(text).substr(static_cast<size_t>(start - 1), static_cast<size_t>(count)));
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
  return replaceText(newlineToText(value), newlineToText(what), newlineToText(with), ignoreCase, everyOccurrence);
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
  const std::u32string text = toUtf32(source);
  const std::u32string searchText = searchForm(source, ignoreCase);
  const std::u32string searchDelimiter = searchForm(delimiter, ignoreCase);
  const auto length = static_cast<int64_t>(text.size());

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
  parts.before = characters(text, 1, p - j);
  parts.after = characters(text, p + k, length);
  if (trimParts) {
    parts.before = trim(parts.before);
    parts.after = trim(parts.after);
  }
  return parts;
}

}  // namespace orv
