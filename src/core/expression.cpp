#include "core/expression.h"

#include <optional>
#include <string>
#include <vector>

#include "core/textops.h"
#include "core/variables.h"

namespace orv {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

enum class Connective { And, Or };

enum class Operator { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual };

std::optional<Operator> operatorOf(std::string_view word) {
  if (word == "=") return Operator::Equal;
  if (word == "<>") return Operator::NotEqual;
  if (word == "<") return Operator::Less;
  if (word == "<=") return Operator::LessOrEqual;
  if (word == ">") return Operator::Greater;
  if (word == ">=") return Operator::GreaterOrEqual;
  return std::nullopt;
}

template <typename T>
bool holds(Operator op, const T& left, const T& right) {
  switch (op) {
    case Operator::Equal: return left == right;
    case Operator::NotEqual: return left != right;
    case Operator::Less: return left < right;
    case Operator::LessOrEqual: return left <= right;
    case Operator::Greater: return left > right;
    case Operator::GreaterOrEqual: return left >= right;
  }
  return false;
}

// One open parenthesis: the value of what it holds so far and the connective that joins the next
// primary to it. Nesting lives on an explicit stack, so deep parentheses cannot exhaust the call stack.
struct Group {
  bool value = false;
  bool started = false;
  Connective pending = Connective::Or;

  void take(bool next) {
    if (!started) {
      value = next;
      started = true;
    } else {
      value = pending == Connective::And ? (value && next) : (value || next);
    }
  }
};

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  // The value of the text as one parenthesised primary; nothing when it does not parse completely.
  std::optional<bool> run() {
    skipBlanks();
    if (!take('(')) return std::nullopt;
    std::vector<Group> groups(1);
    for (;;) {
      skipBlanks();
      if (take('(')) {
        groups.emplace_back();
        continue;
      }
      std::optional<bool> value = comparison();
      if (!value) return std::nullopt;
      // Close every group that ends here, handing its value to the one around it.
      for (;;) {
        groups.back().take(*value);
        skipBlanks();
        if (!take(')')) break;
        value = groups.back().value;
        groups.pop_back();
        if (groups.empty()) {
          skipBlanks();
          return atEnd() ? value : std::nullopt;
        }
      }
      const std::string_view connective = word();
      if (connective == "and")
        groups.back().pending = Connective::And;
      else if (connective == "or")
        groups.back().pending = Connective::Or;
      else
        return std::nullopt;
    }
  }

  // The first integer operand outside the 32-bit range, if any.
  const std::optional<std::string>& integerOutOfRange() const { return outOfRange_; }

 private:
  bool atEnd() const { return pos_ >= text_.size(); }

  void skipBlanks() {
    while (!atEnd() && isBlank(text_[pos_])) ++pos_;
  }

  bool take(char c) {
    if (atEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  // An operator or connective: the characters up to the next blank or double quote.
  std::string_view word() {
    skipBlanks();
    const size_t start = pos_;
    while (!atEnd() && !isBlank(text_[pos_]) && text_[pos_] != '"') ++pos_;
    return text_.substr(start, pos_ - start);
  }

  std::optional<std::string> operand() {
    skipBlanks();
    if (!take('"')) return std::nullopt;
    std::string value;
    for (;;) {
      const size_t quote = text_.find('"', pos_);
      if (quote == std::string_view::npos) return std::nullopt;
      value.append(text_.substr(pos_, quote - pos_));
      pos_ = quote + 1;
      if (!take('"')) return value;
      value += '"';
    }
  }

  std::optional<bool> comparison() {
    const std::optional<std::string> left = operand();
    if (!left) return std::nullopt;
    const std::optional<Operator> op = operatorOf(word());
    if (!op) return std::nullopt;
    const std::optional<std::string> right = operand();
    if (!right) return std::nullopt;
    if (!isIntegerText(*left) || !isIntegerText(*right)) return holds(*op, *left, *right);
    const std::optional<int32_t> l = toInt32(*left), r = toInt32(*right);
    if (l && r) return holds(*op, *l, *r);
    if (!outOfRange_) outOfRange_ = l ? *right : *left;
    return false;
  }

  std::string_view text_;
  size_t pos_ = 0;
  std::optional<std::string> outOfRange_;
};

std::string wrapped(std::string_view text) {
  std::string w;
  w.reserve(text.size() + 2);
  w += '(';
  w.append(text);
  w += ')';
  return w;
}

}  // namespace

const char* expressionResultText(ExpressionResult result) {
  switch (result) {
    case ExpressionResult::True: return "TRUE";
    case ExpressionResult::False: return "FALSE";
    case ExpressionResult::Error: break;
  }
  return "ERROR";
}

ExpressionResult evaluateExpression(std::string_view text) {
  const std::string whole = wrapped(text);
  Parser parser(whole);
  const std::optional<bool> value = parser.run();
  if (!value) return ExpressionResult::Error;
  if (const auto& bad = parser.integerOutOfRange()) throw ConversionError(*bad);
  return *value ? ExpressionResult::True : ExpressionResult::False;
}

ExpressionResult evaluateExpandedExpression(const VariableStore& vars, std::string_view expression) {
  return evaluateExpression(vars.expandQuoted(expression));
}

bool expressionParses(std::string_view text) {
  const std::string whole = wrapped(text);
  return Parser(whole).run().has_value();
}

}  // namespace orv
