// The variable store: the one engine-wide table of script variables. Names compare without regard to
// case and keep the letter case of their first writing; values are UTF-8 texts. One lock guards the
// table; it is taken for each single operation and never held while anything else runs, so a worker
// that is ended by force cannot leave it held across a call that blocks.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace orv {

inline constexpr std::string_view kInjectReason = "Inject Override Command Line";
inline constexpr std::string_view kNoSuchVariable = "$ZORNNX$";

// Bounds of one expansion, so a value that refers to itself cannot hang the engine or exhaust memory:
// after this many substitutions the rest of the text is kept as it stands, and the result is cut at
// this many bytes.
inline constexpr size_t kMaxSubstitutions = 100000;
inline constexpr size_t kMaxExpandedBytes = 16u << 20;

class VariableStore {
 public:
  // Raw operations.
  void setValue(std::string_view name, std::string_view value);
  std::string getValue(std::string_view name) const;
  bool exists(std::string_view name) const;
  void remove(std::string_view name);
  void clear();
  // Appends name and value lines for every variable, in the order they were first written; returns the
  // number of lines appended.
  size_t getAll(std::vector<std::string>& lines) const;
  size_t size() const;

  // $NAME$ expansion; the quoted form surrounds each substituted value with double quotes.
  std::string expand(std::string_view text) const { return expandImpl(text, false); }
  std::string expandQuoted(std::string_view text) const { return expandImpl(text, true); }

  // Engine-level operations (reasons name who changes a variable; only the command-line injection
  // reason has an effect).
  void defineVariable(std::string_view name, std::string_view value, std::string_view reason);
  void updateVariable(std::string_view name, std::string_view value, std::string_view reason);
  std::string variableValue(std::string_view name) const { return getValue(name); }
  void removeVariable(std::string_view name);
  std::string resolveReference(std::string_view text, bool markMissing = true) const;
  bool isReferenceDefined(std::string_view text, bool literalAllowed) const;
  std::string expandPath(std::string_view text) const;
  std::string saveVariables() const;
  void loadVariables(std::string_view commaText);

  // Protection of command-line values in silent runs: names given on the command line cannot be
  // changed by the script while the engine runs silently.
  void setSilent(bool silent) { silent_.store(silent); }
  bool silent() const { return silent_.load(); }
  void setCommandLineNames(std::vector<std::string> upperCaseNames);

  // Change tracking for the few names the interpreter follows before every script line: the counter
  // moves whenever one of the watched names gets another value or is removed, or the store is cleared,
  // so the interpreter rereads them only after a change.
  void watch(const std::vector<std::string>& names);
  uint64_t watchedChanges() const { return watchedChanges_.load(std::memory_order_acquire); }

 private:
  struct Slot {
    std::string name;
    std::string value;
    bool live = false;
    bool watched = false;
  };
  bool isWatchedLocked(const std::string& foldedName) const;
  void noteWatchedChangeLocked() { watchedChanges_.fetch_add(1, std::memory_order_release); }
  std::string expandImpl(std::string_view text, bool quoted) const;
  bool lookup(std::string_view name, std::string& value) const;
  bool isProtected(std::string_view name, std::string_view reason) const;
  void compactLocked();

  mutable std::mutex lock_;
  std::unordered_map<std::string, size_t> index_;  // folded name -> slot
  std::vector<Slot> slots_;
  size_t dead_ = 0;
  std::atomic<bool> silent_{false};
  std::vector<std::string> commandLineNames_;  // folded
  std::vector<std::string> watchedNames_;      // folded
  std::atomic<uint64_t> watchedChanges_{0};
};

// "$NAME$" -> "NAME" when the text begins with "$" and its next "$" is its last character; else empty.
std::string stripReference(std::string_view text);
std::string newlineToText(std::string_view text);  // CR LF -> "$NEWLINE$"
std::string textToNewline(std::string_view text);  // "$NEWLINE$" (any case) -> CR LF

// Compiler constants (#NAME#) from the image's compiler-variable pairs; the first of equal names wins.
// Re-applied while the result still holds "#" and changes, at most kMaxConstantPasses times.
inline constexpr int kMaxConstantPasses = 64;
std::string expandCompilerConstants(std::string_view text,
                                    const std::vector<std::pair<std::string, std::string>>& constants);

}  // namespace orv
