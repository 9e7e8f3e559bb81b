#include "core/conditions.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "core/text.h"
#include "core/textops.h"
#include "core/variables.h"

namespace orv {
namespace {

constexpr int kVersionComponents = 4;

// The components left to right: the text before the next "." is one (it must be an integer), and the
// text through that "." is dropped; a component without a "." after it converts with failure as 0.
std::array<int64_t, kVersionComponents> versionComponents(std::string_view version) {
  std::array<int64_t, kVersionComponents> components{};
  for (int64_t& component : components) {
    const size_t dot = version.find('.');
    if (dot == std::string_view::npos) {
      component = toInt64(version).value_or(0);
      version = {};
      continue;
    }
    const std::string_view text = version.substr(0, dot);
    const std::optional<int64_t> value = toInt64(text);
    if (!value) throw ConversionError(text);
    component = *value;
    version.remove_prefix(dot + 1);
  }
  return components;
}

bool containsText(std::string_view text, std::string_view part, bool ignoreCase) {
  return ignoreCase ? findNoCase(text, part) != std::string_view::npos : text.find(part) != std::string_view::npos;
}

bool compareTexts(ComparisonCode code, std::string_view left, std::string_view right) {
  switch (code) {
    case ComparisonCode::Equals: return left == right;
    case ComparisonCode::Contains: return containsText(left, right, false);
    case ComparisonCode::GreaterThan: return left > right;  // bytes of UTF-8 order as code points do
    case ComparisonCode::ContainsNoCase: return containsText(left, right, true);
    case ComparisonCode::EqualsNoCase: return equalsNoCase(left, right);
    default: return false;
  }
}

bool compareNumbers(ComparisonCode code, int32_t left, int32_t right) {
  switch (code) {
    case ComparisonCode::Equals:
    case ComparisonCode::Contains:
    case ComparisonCode::ContainsNoCase:
    case ComparisonCode::EqualsNoCase: return left == right;
    case ComparisonCode::GreaterThan: return left > right;
    default: return false;
  }
}

std::optional<ComparisonCode> codeOf(std::string_view text) {
  if (text.size() != 1 || text[0] < '0' || text[0] > '6') return std::nullopt;
  return static_cast<ComparisonCode>(text[0]);
}

std::string variableNameOf(std::string_view param) {
  std::string name = stripReference(param);
  return name.empty() ? std::string(param) : name;
}

}  // namespace

int compareVersions(std::string_view left, std::string_view right) {
  const auto l = versionComponents(left);
  const auto r = versionComponents(right);
  for (int i = 0; i < kVersionComponents; ++i)
    if (l[i] != r[i]) return l[i] < r[i] ? -1 : 1;
  return 0;
}

bool compareByCode(std::string_view codeText, std::string_view left, std::string_view right) {
  const std::optional<ComparisonCode> code = codeOf(codeText);
  if (!code || *code == ComparisonCode::Defined) return false;
  if (*code == ComparisonCode::HigherVersion) return compareVersions(left, right) > 0;
  const std::optional<int32_t> l = toInt32(left), r = toInt32(right);
  if (l && r) return compareNumbers(*code, *l, *r);
  return compareTexts(*code, left, right);
}

bool evaluateCondition(const VariableStore& vars, const ConditionParams& params) {
  bool result = false;
  if (codeOf(params.code) == ComparisonCode::Defined) {
    result = vars.exists(params.variable);  // the name as written, dollar signs included
  } else {
    const std::string left = vars.expand(vars.getValue(variableNameOf(params.variable)));
    const std::string right = vars.expand(params.value);
    result = compareByCode(params.code, left, right);
  }
  return result != isTrueText(params.negate);
}

}  // namespace orv
