#include "core/commatext.h"

namespace orv {
namespace {

bool needsQuotes(std::string_view item) {
  for (unsigned char c : item)
    if (c <= ' ' || c == '"' || c == ',') return true;
  return false;
}

void appendQuoted(std::string& out, std::string_view item) {
  out += '"';
  for (char c : item) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

bool isBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

std::string joinCommaText(const std::vector<std::string>& items) {
  if (items.size() == 1 && items[0].empty()) return "\"\"";
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    if (needsQuotes(items[i])) appendQuoted(out, items[i]);
    else out += items[i];
  }
  return out;
}

std::vector<std::string> splitCommaText(std::string_view text) {
  std::vector<std::string> items;
  size_t p = 0;
  while (p < text.size() && isBlank(text[p])) ++p;  // leading blanks
  while (p < text.size()) {
    std::string item;
    if (text[p] == '"') {
      ++p;
      while (p < text.size()) {
        if (text[p] == '"') {
          if (p + 1 < text.size() && text[p + 1] == '"') { item += '"'; p += 2; continue; }
          ++p;
          break;
        }
        item += text[p++];
      }
    } else {
      while (p < text.size() && text[p] != ',' && !isBlank(text[p])) item += text[p++];
    }
    items.push_back(std::move(item));
    while (p < text.size() && isBlank(text[p])) ++p;
    if (p < text.size() && text[p] == ',') {
      ++p;
      if (p == text.size()) { items.emplace_back(); break; }
      while (p < text.size() && isBlank(text[p])) ++p;
      if (p == text.size()) { items.emplace_back(); break; }
    }
  }
  return items;
}

std::vector<std::string> unwrapCommaText(std::string_view text) {
  std::vector<std::string> items = splitCommaText(text);
  // A single item that is itself a list; stop when re-parsing no longer changes anything.
  while (items.size() == 1) {
    std::vector<std::string> inner = splitCommaText(items[0]);
    if (inner.size() == 1 && inner[0] == items[0]) break;
    if (inner.empty()) break;
    items = std::move(inner);
  }
  return items;
}

}  // namespace orv
