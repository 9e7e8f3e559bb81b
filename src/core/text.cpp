#include "core/text.h"

#include <algorithm>
#include <charconv>

namespace orv {

char32_t decodeUtf8(std::string_view s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) { ++i; return b0; }
  int extra = 0;
  char32_t c = 0;
  if ((b0 & 0xE0) == 0xC0) { extra = 1; c = b0 & 0x1F; }
  else if ((b0 & 0xF0) == 0xE0) { extra = 2; c = b0 & 0x0F; }
  else if ((b0 & 0xF8) == 0xF0) { extra = 3; c = b0 & 0x07; }
  else { ++i; return 0xFFFD; }
  if (i + extra >= s.size()) { ++i; return 0xFFFD; }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) { ++i; return 0xFFFD; }
    c = (c << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) { ++i; return 0xFFFD; }
  i += extra + 1;
  return c;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::u32string toUtf32(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) out += decodeUtf8(s, i);
  return out;
}

std::string fromUtf32(std::u32string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char32_t c : s) appendUtf8(out, c);
  return out;
}

size_t charCount(std::string_view s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size();) { decodeUtf8(s, i); ++n; }
  return n;
}

// Simple case mappings of the scripts setup texts use (Latin, Greek, Cyrillic, Armenian).
char32_t upperChar(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x131) return 'I';
    if (c == 0x17F) return 'S';
    const bool pairsFromEven = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
    if (pairsFromEven) return (c % 2 == 1) ? c - 1 : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 0) ? c - 1 : c;
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x3AC && c <= 0x3AF) {
    static constexpr char32_t m[] = {0x386, 0x388, 0x389, 0x38A};
    return m[c - 0x3AC];
  }
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  if (c >= 0x460 && c <= 0x4FF && c != 0x482 && !(c >= 0x483 && c <= 0x489)) {
    if (c >= 0x4C1 && c <= 0x4CE) return (c % 2 == 0) ? c - 1 : c;
    if (c == 0x4CF) return 0x4C0;
    return (c % 2 == 1) ? c - 1 : c;
  }
  if (c >= 0x561 && c <= 0x586) return c - 48;
  if (c >= 0x1E00 && c <= 0x1EFF && c != 0x1E9E && !(c >= 0x1E96 && c <= 0x1E9F)) return (c % 2 == 1) ? c - 1 : c;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 32;
  return c;
}

char32_t lowerChar(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130) return 'i';
    const bool pairsFromEven = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
    if (pairsFromEven) return (c % 2 == 0) ? c + 1 : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 1) ? c + 1 : c;
    return c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 37;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c >= 0x460 && c <= 0x4FF && c != 0x482 && !(c >= 0x483 && c <= 0x489)) {
    if (c >= 0x4C1 && c <= 0x4CE) return (c % 2 == 1) ? c + 1 : c;
    if (c == 0x4C0) return 0x4CF;
    return (c % 2 == 0) ? c + 1 : c;
  }
  if (c >= 0x531 && c <= 0x556) return c + 48;
  if (c >= 0x1E00 && c <= 0x1EFF && c != 0x1E9E && !(c >= 0x1E96 && c <= 0x1E9F)) return (c % 2 == 0) ? c + 1 : c;
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 32;
  return c;
}

namespace {
template <typename Map>
std::string mapChars(std::string_view s, Map map) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {  // fast path for ASCII
      out += static_cast<char>(map(b));
      ++i;
    } else {
      appendUtf8(out, map(decodeUtf8(s, i)));
    }
  }
  return out;
}
}  // namespace

std::string upper(std::string_view s) { return mapChars(s, upperChar); }
std::string lower(std::string_view s) { return mapChars(s, lowerChar); }

bool equalsNoCase(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (ca < 0x80 && cb < 0x80) {
      if (upperChar(ca) != upperChar(cb)) return false;
      ++i; ++j;
      continue;
    }
    if (upperChar(decodeUtf8(a, i)) != upperChar(decodeUtf8(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

size_t findNoCase(std::string_view haystack, std::string_view needle, size_t from) {
  if (needle.empty()) return from <= haystack.size() ? from : std::string_view::npos;
  const std::string h = upper(haystack), n = upper(needle);
  if (h.size() == haystack.size()) return h.find(n, from);  // same byte layout
  // Rare: case mapping changed byte lengths; search code point by code point.
  for (size_t i = from; i < haystack.size();) {
    size_t j = i, k = 0;
    bool match = true;
    while (k < needle.size()) {
      if (j >= haystack.size()) { match = false; break; }
      if (upperChar(decodeUtf8(haystack, j)) != upperChar(decodeUtf8(needle, k))) { match = false; break; }
    }
    if (match) return i;
    decodeUtf8(haystack, i);
  }
  return std::string_view::npos;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && equalsNoCase(s.substr(0, prefix.size()), prefix);
}

bool endsWithNoCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && equalsNoCase(s.substr(s.size() - suffix.size()), suffix);
}

std::string replaceAll(std::string_view s, std::string_view what, std::string_view with, bool ignoreCase) {
  if (what.empty()) return std::string(s);
  std::string out;
  size_t pos = 0;
  for (;;) {
    const size_t hit = ignoreCase ? findNoCase(s, what, pos) : s.find(what, pos);
    if (hit == std::string_view::npos) break;
    out.append(s.substr(pos, hit - pos));
    out.append(with);
    // The match may differ in byte length from `what` only for exotic case pairs; advance by the match.
    size_t end = hit, k = 0;
    if (ignoreCase) {
      while (k < what.size()) { decodeUtf8(s, end); decodeUtf8(what, k); }
    } else {
      end = hit + what.size();
    }
    pos = end;
  }
  out.append(s.substr(pos));
  return out;
}

std::string trimLeft(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  return std::string(s.substr(b));
}

std::string trimRight(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(0, e));
}

std::string trim(std::string_view s) { return trimLeft(trimRight(s)); }

bool isTrueText(std::string_view s) { return s == "-1" || equalsNoCase(s, "TRUE"); }

bool parseInt64(std::string_view s, int64_t& out) {
  std::string t = trim(s);
  std::string_view v = t;
  if (!v.empty() && v[0] == '+') v.remove_prefix(1);
  if (v.empty()) return false;
  const auto r = std::from_chars(v.data(), v.data() + v.size(), out);
  return r.ec == std::errc() && r.ptr == v.data() + v.size();
}

int64_t toInt64Or(std::string_view s, int64_t fallback) {
  int64_t v;
  return parseInt64(s, v) ? v : fallback;
}

std::vector<std::string> split(std::string_view s, std::string_view sep) {
  std::vector<std::string> out;
  if (sep.empty()) { out.emplace_back(s); return out; }
  size_t pos = 0;
  for (;;) {
    const size_t hit = s.find(sep, pos);
    if (hit == std::string_view::npos) { out.emplace_back(s.substr(pos)); break; }
    out.emplace_back(s.substr(pos, hit - pos));
    pos = hit + sep.size();
  }
  return out;
}

std::string withTrailingBackslash(std::string_view path) {
  std::string p(path);
  if (p.empty() || p.back() != '\\') p += '\\';
  return p;
}

std::string folderOf(std::string_view path) {
  const size_t p = path.find_last_of("\\:");
  return p == std::string_view::npos ? std::string() : std::string(path.substr(0, p + 1));
}

std::string fileNameOf(std::string_view path) {
  const size_t p = path.find_last_of("\\:");
  return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}

std::string withoutExtension(std::string_view fileName) {
  const size_t dot = fileName.find_last_of('.');
  const size_t sep = fileName.find_last_of("\\:");
  if (dot == std::string_view::npos || (sep != std::string_view::npos && dot < sep)) return std::string(fileName);
  return std::string(fileName.substr(0, dot));
}

}  // namespace orv
