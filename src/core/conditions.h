// The condition of "If", "Else If", "While" and "Until": one variable tested against one value by one
// of seven comparison codes, then exclusive-ored with a negate flag.
#pragma once
#include <string_view>

namespace orv {

class VariableStore;

// A condition line's parameters as the script gives them (after any localization), unexpanded.
struct ConditionParams {
  std::string_view variable;  // "NAME" or "$NAME$"
  std::string_view code;      // "0" to "6"
  std::string_view value;     // expanded before the comparison
  std::string_view negate;    // a flag ("TRUE" or "-1" negates)
};

enum class ComparisonCode : char {
  Equals = '0',
  Contains = '1',
  GreaterThan = '2',
  ContainsNoCase = '3',
  EqualsNoCase = '4',
  Defined = '5',
  HigherVersion = '6',
};

// Evaluates the condition against the store. Throws ConversionError for a version whose component
// before a "." is not an integer.
bool evaluateCondition(const VariableStore& vars, const ConditionParams& params);

// One comparison of left against right by a code other than "5": numeric when both texts are 32-bit
// integers (code "6" is a version comparison before that), else on the texts. An unknown code gives
// false.
bool compareByCode(std::string_view code, std::string_view left, std::string_view right);

// Version comparison of up to four "."-separated integer components (missing ones are 0): negative,
// zero or positive as left is lower, equal or higher. Only the last component may fail to convert (it
// then counts as 0); any earlier one throws ConversionError.
int compareVersions(std::string_view left, std::string_view right);

}  // namespace orv
