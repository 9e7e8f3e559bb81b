#include "core/variables.h"

#include <algorithm>
#include <deque>
#include <memory>

#include "core/commatext.h"
#include "core/text.h"

namespace orv {

void VariableStore::setValue(std::string_view name, std::string_view value) {
  if (name.empty()) return;
  std::string key = foldKey(name);
  std::lock_guard guard(lock_);
  auto it = index_.find(key);
  if (it != index_.end()) {
    Slot& slot = slots_[it->second];
    if (slot.watched && slot.value != value) noteWatchedChangeLocked();
    slot.value.assign(value);
    return;
  }
  const bool watched = !watchedNames_.empty() && isWatchedLocked(key);
  index_.emplace(std::move(key), slots_.size());
  slots_.push_back(Slot{std::string(name), std::string(value), true, watched});
  if (watched) noteWatchedChangeLocked();
}

bool VariableStore::isWatchedLocked(const std::string& foldedName) const {
  return std::find(watchedNames_.begin(), watchedNames_.end(), foldedName) != watchedNames_.end();
}

void VariableStore::watch(const std::vector<std::string>& names) {
  std::lock_guard guard(lock_);
  watchedNames_.clear();
  for (const std::string& n : names) watchedNames_.push_back(foldKey(n));
  for (auto& [key, slot] : index_) slots_[slot].watched = isWatchedLocked(key);
  noteWatchedChangeLocked();
}

bool VariableStore::lookup(std::string_view name, std::string& value) const {
  if (name.empty()) return false;
  const std::string key = foldKey(name);
  std::lock_guard guard(lock_);
  auto it = index_.find(key);
  if (it == index_.end()) return false;
  value = slots_[it->second].value;
  return true;
}

std::string VariableStore::getValue(std::string_view name) const {
  std::string v;
  lookup(name, v);
  return v;
}

bool VariableStore::exists(std::string_view name) const {
  if (name.empty()) return false;
  const std::string key = foldKey(name);
  std::lock_guard guard(lock_);
  return index_.count(key) != 0;
}

void VariableStore::remove(std::string_view name) {
  if (name.empty()) return;
  const std::string key = foldKey(name);
  std::lock_guard guard(lock_);
  auto it = index_.find(key);
  if (it == index_.end()) return;
  Slot& slot = slots_[it->second];
  if (slot.watched) noteWatchedChangeLocked();
  slot.live = false;
  slot.watched = false;
  slot.name.clear();
  slot.value.clear();
  index_.erase(it);
  if (++dead_ > 64 && dead_ > slots_.size() / 2) compactLocked();
}

void VariableStore::compactLocked() {
  std::vector<Slot> kept;
  kept.reserve(slots_.size() - dead_);
  index_.clear();
  for (Slot& s : slots_) {
    if (!s.live) continue;
    index_.emplace(foldKey(s.name), kept.size());
    kept.push_back(std::move(s));
  }
  slots_ = std::move(kept);
  dead_ = 0;
}

void VariableStore::clear() {
  std::lock_guard guard(lock_);
  index_.clear();
  slots_.clear();
  dead_ = 0;
  noteWatchedChangeLocked();
}

size_t VariableStore::getAll(std::vector<std::string>& lines) const {
  lines.clear();
  std::lock_guard guard(lock_);
  for (const Slot& s : slots_) {
    if (!s.live) continue;
    lines.push_back(s.name);
    lines.push_back(s.value);
  }
  return lines.size();
}

size_t VariableStore::size() const {
  std::lock_guard guard(lock_);
  return index_.size();
}

// The rescanning expansion: text substituted for a reference is scanned again, and a "$" inside a value
// may pair with a later "$" of the surrounding text. The text still to scan is kept as a stack of
// segments (the innermost substituted value on top), so a substitution costs the length of the name,
// not of the whole text.
std::string VariableStore::expandImpl(std::string_view text, bool quoted) const {
  if (text.find('$') == std::string_view::npos) return std::string(text);

  struct Segment {
    std::string_view text;
    size_t pos;
  };
  std::deque<std::string> values;  // owned substituted values, stable addresses
  std::unordered_map<std::string, const std::string*> cache;
  std::vector<Segment> pending{{text, 0}};
  std::string out;
  out.reserve(text.size());
  size_t substitutions = 0;
  static const std::string kQuote = "\"";

  auto popExhausted = [&] {
    while (!pending.empty() && pending.back().pos >= pending.back().text.size()) pending.pop_back();
  };

  while (true) {
    // Copy plain text up to the next "$".
    popExhausted();
    bool found = false;
    while (!pending.empty()) {
      Segment& top = pending.back();
      const size_t hit = top.text.find('$', top.pos);
      if (hit == std::string_view::npos) {
        out.append(top.text.substr(top.pos));
        top.pos = top.text.size();
        popExhausted();
        continue;
      }
      out.append(top.text.substr(top.pos, hit - top.pos));
      top.pos = hit;
      found = true;
      break;
    }
    if (!found || out.size() > kMaxExpandedBytes) break;

    // The name runs from after this "$" to the next "$", possibly across segments.
    std::string name;
    bool closed = false;
    size_t seg = pending.size() - 1;
    size_t pos = pending[seg].pos + 1;
    while (true) {
      const std::string_view t = pending[seg].text;
      const size_t hit = t.find('$', pos);
      if (hit != std::string_view::npos) {
        name.append(t.substr(pos, hit - pos));
        closed = true;
        break;
      }
      name.append(t.substr(std::min(pos, t.size())));
      if (seg == 0) break;
      --seg;
      pos = pending[seg].pos;
    }

    const std::string* value = nullptr;
    if (closed && !name.empty() && substitutions < kMaxSubstitutions) {
      const std::string key = foldKey(name);
      auto cached = cache.find(key);
      if (cached != cache.end()) {
        value = cached->second;
      } else {
        std::string v;
        if (lookup(name, v)) {
          // An expression operand writes a double quote as two; a value's own quote must not end it.
          if (quoted) v = replaceAll(v, "\"", "\"\"", false);
          values.push_back(std::move(v));
          value = &values.back();
        }
        cache.emplace(key, value);
      }
    }

    if (!closed) {  // a lone "$": nothing can pair with it any more
      out += '$';
      pending.back().pos += 1;
      continue;
    }

    // Consume "$" name "$" (1 + name + 1 bytes) when substituting, else "$" name, leaving the closing "$"
    // to open the next token.
    size_t toConsume = 1 + name.size() + (value ? 1 : 0);
    if (!value) out += '$';
    if (!value) out += name;
    while (toConsume > 0) {
      Segment& top = pending.back();
      const size_t take = std::min(toConsume, top.text.size() - top.pos);
      top.pos += take;
      toConsume -= take;
      if (top.pos >= top.text.size()) pending.pop_back();
    }
    if (value) {
      ++substitutions;
      if (quoted) pending.push_back({kQuote, 0});
      pending.push_back({*value, 0});
      if (quoted) pending.push_back({kQuote, 0});
    }
  }
  if (out.size() > kMaxExpandedBytes) out.resize(kMaxExpandedBytes);
  return out;
}

bool VariableStore::isProtected(std::string_view name, std::string_view reason) const {
  if (!silent() || reason == kInjectReason) return false;
  const std::string key = foldKey(name);
  std::lock_guard guard(lock_);
  return std::find(commandLineNames_.begin(), commandLineNames_.end(), key) != commandLineNames_.end();
}

void VariableStore::setCommandLineNames(std::vector<std::string> upperCaseNames) {
  for (auto& n : upperCaseNames) n = foldKey(n);
  std::lock_guard guard(lock_);
  commandLineNames_ = std::move(upperCaseNames);
}

namespace {
// A value equal to the variable's own reference stores the empty text.
std::string_view ownReferenceEmptied(std::string_view name, std::string_view value) {
  if (value.size() == name.size() + 2 && value.front() == '$' && value.back() == '$' &&
      equalsNoCase(value.substr(1, name.size()), name))
    return {};
  return value;
}
}  // namespace

void VariableStore::defineVariable(std::string_view name, std::string_view value, std::string_view reason) {
  if (name.empty()) return;
  value = ownReferenceEmptied(name, value);
  if (exists(name)) {
    updateVariable(name, value, reason);
  } else {
    setValue(name, value);
  }
}

void VariableStore::updateVariable(std::string_view name, std::string_view value, std::string_view reason) {
  if (name.empty() || isProtected(name, reason)) return;
  if (!exists(name)) {
    setValue(name, ownReferenceEmptied(name, value));
    return;
  }
  setValue(name, ownReferenceEmptied(name, value));
}

void VariableStore::removeVariable(std::string_view name) { remove(name); }

std::string stripReference(std::string_view text) {
  if (text.size() < 2 || text.front() != '$') return {};
  const size_t next = text.find('$', 1);
  if (next != text.size() - 1) return {};
  return std::string(text.substr(1, text.size() - 2));
}

std::string VariableStore::resolveReference(std::string_view text, bool markMissing) const {
  std::string name = stripReference(text);
  if (name.empty()) name = std::string(text);
  std::string value;
  if (lookup(name, value)) return expand(value);
  return markMissing ? std::string(kNoSuchVariable) : std::string();
}

bool VariableStore::isReferenceDefined(std::string_view text, bool literalAllowed) const {
  const std::string name = stripReference(text);
  if (!name.empty()) return exists(name);
  return literalAllowed ? true : exists(text);
}

std::string VariableStore::expandPath(std::string_view text) const {
  const std::string expanded = expand(text);
  std::string collapsed = replaceAll(expanded, "\\\\", "\\", false);
  if (expanded.rfind("\\\\", 0) == 0) collapsed.insert(0, "\\");
  return collapsed;
}

std::string VariableStore::saveVariables() const {
  std::vector<std::string> lines;
  getAll(lines);
  return joinCommaText(lines);
}

void VariableStore::loadVariables(std::string_view commaText) {
  const std::vector<std::string> items = splitCommaText(commaText);
  clear();
  for (size_t i = 0; i + 1 < items.size(); i += 2) setValue(items[i], items[i + 1]);
}

std::string newlineToText(std::string_view text) { return replaceAll(text, "\r\n", "$NEWLINE$", false); }
std::string textToNewline(std::string_view text) { return replaceAll(text, "$NEWLINE$", "\r\n", true); }

std::string expandCompilerConstants(std::string_view text,
                                    const std::vector<std::pair<std::string, std::string>>& constants) {
  std::string current(text);
  for (int pass = 0; pass < kMaxConstantPasses; ++pass) {
    if (current.find('#') == std::string::npos) break;
    std::string next = current;
    for (const auto& [name, value] : constants) {
      if (name.empty()) continue;
      next = replaceAll(next, "#" + name + "#", value, true);
      if (next.size() > kMaxExpandedBytes) return next.substr(0, kMaxExpandedBytes);
    }
    if (next == current || next.find('#') == std::string::npos) return next;
    current = std::move(next);
  }
  return current;
}

}  // namespace orv
