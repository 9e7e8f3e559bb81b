// The script's small evaluators over arbitrary text: "Evaluate Expression" (plain and with quoted
// references), the line condition with every code, version comparison, "Mathematics", and the
// Parse String / Extract Path operations. The whole input is one expression; split at "|" it also
// gives the fields of a condition, a Mathematics line and a Parse String line.
//
// Properties: the compiler's syntax check agrees with the evaluator; the only exception is the
// conversion error the commands document; version comparison is antisymmetric; a split at a found
// delimiter gives the source back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/conditions.h"
#include "core/expression.h"
#include "core/mathematics.h"
#include "core/text.h"
#include "core/textops.h"
#include "core/variables.h"

namespace {

using namespace orv;

const VariableStore& fuzzVariables() {
  static const VariableStore* vars = [] {
    auto* v = new VariableStore;
    v->setValue("A", "abc");
    v->setValue("N", "42");
    v->setValue("Q", "say \"hi\"");
    v->setValue("R", "$A$ and $N$");
    v->setValue("V", "1.2.3");
    return v;
  }();
  return *vars;
}

void checkExpression(std::string_view text) {
  bool threw = false;
  ExpressionResult result = ExpressionResult::Error;
  try {
    result = evaluateExpression(text);
  } catch (const ConversionError&) {
    threw = true;
  }
  const bool parses = threw || result != ExpressionResult::Error;
  if (parses != expressionParses(text)) __builtin_trap();
  try {
    evaluateExpandedExpression(fuzzVariables(), text);
  } catch (const ConversionError&) {
  }
}

std::string_view field(const std::vector<std::string>& fields, size_t i) {
  return i < fields.size() ? std::string_view(fields[i]) : std::string_view();
}

void checkCondition(const std::vector<std::string>& fields) {
  const std::string_view left = field(fields, 0), right = field(fields, 2);
  try {
    const int forward = compareVersions(left, right);
    if (forward != -compareVersions(right, left)) __builtin_trap();
  } catch (const ConversionError&) {
  }
  for (const char* code : {"0", "1", "2", "3", "4", "5", "6", "7"}) {
    try {
      const bool plain = evaluateCondition(fuzzVariables(), {left, code, right, "FALSE"});
      const bool negated = evaluateCondition(fuzzVariables(), {left, code, right, "TRUE"});
      if (plain == negated) __builtin_trap();
    } catch (const ConversionError&) {
      if (code[0] != '6') __builtin_trap();
    }
  }
}

bool validUtf8(std::string_view text) { return fromUtf32(toUtf32(text)) == text; }

void checkTextOperations(const std::vector<std::string>& fields) {
  const std::string_view source = field(fields, 0), delimiter = field(fields, 1);
  // Malformed bytes all read as U+FFFD, so only well-formed texts must split back exactly.
  const bool wellFormed = validUtf8(source) && validUtf8(delimiter);
  for (int method = 0; method <= 4; ++method) {
    const ParsedParts parts = parseString(source, delimiter, method, method == 2, method == 3);
    if (method <= 1 && wellFormed && !delimiter.empty() && source.find(delimiter) != std::string_view::npos &&
        parts.before + std::string(delimiter) + parts.after != source)
      __builtin_trap();
  }
  for (int part = 0; part <= 7; ++part) extractPathPart(source, part);
  replaceText(source, delimiter, field(fields, 2), true, true);
  RandomGenerator generator;
  for (const std::string_view code : {field(fields, 2), std::string_view("15"), std::string_view("3")})
    mathematics(generator, source, delimiter, code);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  checkExpression(text);
  const std::vector<std::string> fields = split(text, "|");
  checkCondition(fields);
  checkTextOperations(fields);
  return 0;
}
