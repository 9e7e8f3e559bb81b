#include "core/design/design.h"

#include "core/text.h"

namespace orv::design {
namespace {

std::string located(std::string_view message, DesignError::At at, size_t position) {
  std::string text = "Invalid page design: ";
  text += message;
  if (at == DesignError::At::Offset) text += " (at byte " + std::to_string(position) + ")";
  if (at == DesignError::At::Line) text += " (line " + std::to_string(position) + ")";
  return text;
}

}  // namespace

DesignError::DesignError(std::string_view message, At at, size_t position)
    : std::runtime_error(located(message, at, position)), at_(at), position_(position) {}

bool isIntegerType(ValueType t) {
  return t == ValueType::Int8 || t == ValueType::Int16 || t == ValueType::Int32 || t == ValueType::Int64;
}

bool isStringType(ValueType t) {
  return t == ValueType::String || t == ValueType::LString || t == ValueType::WString || t == ValueType::Utf8String;
}

Value Value::ofInteger(int64_t v) {
  Value out;
  out.integer = v;
  if (v >= INT8_MIN && v <= INT8_MAX) out.type = ValueType::Int8;
  else if (v >= INT16_MIN && v <= INT16_MAX) out.type = ValueType::Int16;
  else if (v >= INT32_MIN && v <= INT32_MAX) out.type = ValueType::Int32;
  else out.type = ValueType::Int64;
  return out;
}

Value Value::ofString(std::string_view utf8) {
  Value out{ValueType::String};
  out.text = utf8;
  return out;
}

Value Value::ofIdent(std::string_view name) {
  Value out{ValueType::Ident};
  out.text = name;
  return out;
}

Value Value::ofBool(bool v) { return Value{v ? ValueType::True : ValueType::False}; }

Value Value::ofNumber(ValueType floatType, double v) {
  Value out{floatType};
  out.number = v;
  return out;
}

Value Value::ofBinary(std::string_view bytes) {
  Value out{ValueType::Binary};
  out.text = bytes;
  return out;
}

Value Value::ofSet(std::vector<std::string> names) {
  Value out{ValueType::Set};
  out.identifiers = std::move(names);
  return out;
}

const Property* Object::property(std::string_view propertyName) const {
  for (const Property& p : properties)
    if (equalsNoCase(p.name, propertyName)) return &p;
  return nullptr;
}

ResourceHeader standardHeader(const Object& root) {
  ResourceHeader h;
  h.name = upper(root.className);
  return h;
}

std::string textToBinary(std::string_view text, unsigned codePage, bool withResourceHeader) {
  Document doc;
  doc.root = readText(text, codePage);
  if (withResourceHeader) doc.header = standardHeader(doc.root);
  return writeBinary(doc, codePage);
}

std::string binaryToText(std::string_view bytes, unsigned codePage) {
  return writeText(readBinary(bytes, codePage).root);
}

}  // namespace orv::design
