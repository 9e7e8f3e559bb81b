// Text routines shared by the whole engine. Text is UTF-8 inside the engine; "characters" are Unicode
// code points, never bytes. Case rules follow the invariant locale (simple one-to-one mappings).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// Decodes one code point at s[i] and advances i; malformed bytes decode as U+FFFD, one byte each.
char32_t decodeUtf8(std::string_view s, size_t& i);
void appendUtf8(std::string& out, char32_t c);
std::u32string toUtf32(std::string_view s);
std::string fromUtf32(std::u32string_view s);
size_t charCount(std::string_view s);

char32_t upperChar(char32_t c);
char32_t lowerChar(char32_t c);
std::string upper(std::string_view s);
std::string lower(std::string_view s);
// Key for case-insensitive maps: the upper-case form.
inline std::string foldKey(std::string_view s) { return upper(s); }
bool equalsNoCase(std::string_view a, std::string_view b);
// Position of needle in haystack ignoring case, from byte offset `from`; npos when absent.
size_t findNoCase(std::string_view haystack, std::string_view needle, size_t from = 0);
bool startsWithNoCase(std::string_view s, std::string_view prefix);
bool endsWithNoCase(std::string_view s, std::string_view suffix);
// Replaces every occurrence (matching without regard to case when ignoreCase).
std::string replaceAll(std::string_view s, std::string_view what, std::string_view with, bool ignoreCase);

std::string trim(std::string_view s);  // removes characters at or below space at both ends
std::string trimLeft(std::string_view s);
std::string trimRight(std::string_view s);

// Truth values: "TRUE" in any case or exactly "-1".
bool isTrueText(std::string_view s);
inline const char* boolText(bool b) { return b ? "TRUE" : "FALSE"; }

// Strict decimal parse of a signed 64-bit integer (optional blanks around, optional sign); false when the
// text is not such a number or does not fit.
bool parseInt64(std::string_view s, int64_t& out);
// The number, or `fallback` when the text is not one.
int64_t toInt64Or(std::string_view s, int64_t fallback);

// Splits at every occurrence of sep (kept empty items).
std::vector<std::string> split(std::string_view s, std::string_view sep);

// Folder helpers for backslash paths.
std::string withTrailingBackslash(std::string_view path);
std::string folderOf(std::string_view path);   // text up to and including the last backslash or colon
std::string fileNameOf(std::string_view path); // text after the last backslash or colon
std::string withoutExtension(std::string_view fileName);

}  // namespace orv
