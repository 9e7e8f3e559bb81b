// The start-up check of a setup script: block structure, labels, the variables that commands read or
// write, and a few command rules. It accepts or rejects the script; the interpreter then runs directly
// on the image's line tables. The check also yields the per-run tables that the rest of the run reads
// (label names, the action state of every line).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/image.h"
#include "core/variables.h"

namespace orv {

inline constexpr int64_t kScriptAccepted = -1;
// The result of the block-count errors, which belong to no line.
inline constexpr int64_t kBlockCountMismatch = 2147483644;
inline constexpr std::string_view kScriptAcceptedMessage = "Script compiled successfully";

struct ScriptCheck {
  int64_t result = kScriptAccepted;  // accepted, a zero-based line index, or kBlockCountMismatch
  std::string message{kScriptAcceptedMessage};
  std::string sourceFile;            // project file of the failing line, when the image names one
  int64_t sourceLine = 0;            // 1-based line in that file; 0 when unknown

  bool accepted() const { return result == kScriptAccepted; }
  // 1-based script line of the error; 0 when the error belongs to no line.
  size_t line() const { return result >= 0 && result != kBlockCountMismatch ? size_t(result) + 1 : 0; }
  // "file:line: message" when the source position is known, else the message alone.
  std::string report() const;
};

// Tables the check produces for the run.
struct ScriptTables {
  std::vector<std::string> labelNames;        // upper-cased, in line order
  // Per line: "FALSE" for an enabled installing command (set to "TRUE" once it runs), else "SKIP".
  std::vector<std::string> lineActionStates;
};

// The parameters of every line, each line's identifier looked up once (the same answers as
// ImageIndex::parameterOfLine, which looks the identifier up on every call).
class LineParameters {
 public:
  LineParameters(const SetupImage& image, const ImageIndex& index);
  // Parameter k of a zero-based line (0 gives the identifier); empty when the table holds none.
  std::string_view operator()(size_t lineIndex, size_t k) const {
    const size_t base = lineIndex < base_.size() ? base_[lineIndex] : std::string_view::npos;
    if (base == std::string_view::npos || base + k >= parameters_->size()) return {};
    return (*parameters_)[base + k];
  }
  size_t lineCount() const { return base_.size(); }

 private:
  const std::vector<std::string>* parameters_;
  std::vector<size_t> base_;
};

// Decides whether an "Evaluate Expression" text (each "$" already turned into a double quote) parses.
using ExpressionSyntaxCheck = bool (*)(std::string_view expression);

// Runs the checks in order and stops at the first error. Uses `declarations` for the variables the
// script declares (it is cleared first; the caller clears it again after an accepted check). Without a
// syntax check every expression is accepted.
ScriptCheck checkScript(const SetupImage& image, const ImageIndex& index, VariableStore& declarations,
                        ScriptTables& tables, ExpressionSyntaxCheck expressionParses = nullptr);
// The same with the line parameters already at hand.
ScriptCheck checkScript(const SetupImage& image, const ImageIndex& index, const LineParameters& parameters,
                        VariableStore& declarations, ScriptTables& tables,
                        ExpressionSyntaxCheck expressionParses = nullptr);

// The source position of a zero-based line from the image's "file*line" table (line stored zero-based,
// returned 1-based); false when the table has no usable entry.
bool sourcePositionOf(const SetupImage& image, size_t lineIndex, std::string& file, int64_t& line);

}  // namespace orv
