// "Evaluate Expression": a Boolean expression over double-quoted texts, compared with = <> < <= > >=
// and joined by "and"/"or" strictly from left to right (no precedence), with parentheses.
//
//   expression := primary { connective primary }
//   primary    := "(" expression ")" | operand operator operand
//   operand    := "..." with "" standing for one double quote
//
// Blanks between tokens are skipped; an operator or connective is the text up to the next blank or
// double quote. Keywords are case-sensitive.
#pragma once
#include <string>
#include <string_view>

namespace orv {

class VariableStore;

enum class ExpressionResult { False, True, Error };

const char* expressionResultText(ExpressionResult result);  // "FALSE", "TRUE", "ERROR"

// Evaluates the text as one parenthesised primary (the caller's text is wrapped in parentheses), so
// anything after its closing parenthesis is an error. A comparison of two integer texts is numeric on
// 32-bit values; an integer text outside that range throws ConversionError (only once the whole text
// has parsed: a malformed text is an error first).
ExpressionResult evaluateExpression(std::string_view text);

// The command's evaluation: `$NAME$` references become their values in double quotes, then the text
// is evaluated.
ExpressionResult evaluateExpandedExpression(const VariableStore& vars, std::string_view expression);

// The compiler's check: whether the text (each "$" already turned into a double quote) parses; integer
// ranges are not checked here.
bool expressionParses(std::string_view text);

}  // namespace orv
