// Wizard page designs: the component streams that the authoring tool writes (".dfm" files), as a tree,
// in their binary form (optionally behind a 16-bit resource header, then "TPF0" and the objects) and in
// their text form ("object Name: TClass" ... "end"). The page runtime reads the binary files; the
// authoring compiler turns authors' text pages into them.
//
// Texts in the tree are UTF-8. Short and long strings are stored in the project's ANSI code page, wide
// strings as UTF-16LE and UTF-8 strings as they are. Class, object, property and identifier names are
// kept as the bytes the stream holds (UTF-8 in practice).
//
// Reading keeps what it needs to write every stream it accepted back byte for byte: the exact stored
// form of texts and floating-point values whose decoded value would not give the same bytes again, the
// integer width, the resource header, and any bytes after the root object.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orv::design {

// A malformed design: the message names what is wrong and where (byte offset in a binary stream, line
// in a text).
class DesignError : public std::runtime_error {
 public:
  enum class At { Offset, Line, None };
  DesignError(std::string_view message, At at, size_t position);
  At at() const { return at_; }
  size_t position() const { return position_; }

 private:
  At at_;
  size_t position_;
};

enum class ValueType : uint8_t {
  Null = 0,
  List = 1,
  Int8 = 2,
  Int16 = 3,
  Int32 = 4,
  Extended = 5,   // 80-bit
  String = 6,     // length byte, code-page bytes
  Ident = 7,
  False = 8,
  True = 9,
  Binary = 10,    // 32-bit length, bytes
  Set = 11,       // identifiers up to an empty one
  LString = 12,   // 32-bit length, code-page bytes
  Nil = 13,
  Collection = 14,
  Single = 15,
  Currency = 16,  // 64-bit integer in units of 1/10000
  Date = 17,      // double, days since 1899-12-30
  WString = 18,   // 32-bit count of UTF-16LE units
  Int64 = 19,
  Utf8String = 20,
  Double = 21,
};
inline constexpr uint8_t kLastValueType = 21;

bool isIntegerType(ValueType t);
bool isStringType(ValueType t);  // String, LString, WString, Utf8String

struct Property;
struct CollectionItem;

struct Value {
  ValueType type = ValueType::Null;
  int64_t integer = 0;                   // Int8 .. Int64; Currency in units of 1/10000
  double number = 0;                     // Extended, Single, Date, Double
  std::string text;                      // the string types (UTF-8), Ident, Binary (the bytes)
  std::vector<std::string> identifiers;  // Set
  std::vector<Value> list;               // List
  std::vector<CollectionItem> items;     // Collection
  // The bytes a string or Extended value was read from, when writing the decoded value would give other
  // bytes (a code-page byte without a character, an unpaired surrogate, extra Extended precision).
  // Written again while the value still decodes from them; ignored otherwise.
  std::string stored;

  // Builders for code that makes trees. Integers take the narrowest type; strings are written as
  // String, LString or WString, whichever holds them.
  static Value ofInteger(int64_t v);
  static Value ofString(std::string_view utf8);
  static Value ofIdent(std::string_view name);
  static Value ofBool(bool v);
  static Value ofNumber(ValueType floatType, double v);
  static Value ofBinary(std::string_view bytes);
  static Value ofSet(std::vector<std::string> names);
};

struct Property {
  std::string name;  // may be dotted: "Font.Name", "Items.Strings"
  Value value;
};

struct CollectionItem {
  std::optional<Value> order;  // an integer value written before the item's properties
  std::vector<Property> properties;
};

// Flags of the object prefix byte (0xF0 | flags).
inline constexpr uint8_t kInherited = 1;
inline constexpr uint8_t kChildPosition = 2;
inline constexpr uint8_t kInline = 4;

struct Object {
  bool prefixed = false;   // a prefix byte is present (always when flags are set)
  uint8_t flags = 0;       // low four bits of the prefix
  Value childPosition;     // an integer value, present when flags has kChildPosition
  std::string className;
  std::string name;
  std::vector<Property> properties;
  std::vector<Object> children;

  // First property of that name, compared without regard to ASCII case; null when absent.
  const Property* property(std::string_view propertyName) const;
};

// The 16-bit resource header in front of a component resource file.
struct ResourceHeader {
  uint16_t type = 10;               // RCDATA
  std::optional<uint16_t> nameId;   // a numbered resource
  std::string name;                 // else its name (no NUL)
  uint16_t flags = 0x1030;          // moveable, pure, discardable
  uint32_t coveredTrailing = 0;     // bytes after the root object that the stated size included
};

struct Document {
  std::optional<ResourceHeader> header;
  Object root;
  std::string trailing;  // bytes after the root object's end
};

// Nesting bound for objects, lists and collections together.
inline constexpr size_t kMaxNesting = 64;

Document readBinary(std::string_view bytes, unsigned codePage);
std::string writeBinary(const Document& document, unsigned codePage);

// Text form. Reading decides each string's stored type with the code page (see Value::ofString).
std::string writeText(const Object& root);
Object readText(std::string_view text, unsigned codePage);

// The header the authoring tool writes: RCDATA named after the root's class in upper case.
ResourceHeader standardHeader(const Object& root);

// The two conversions of the loader and the authoring compiler.
std::string textToBinary(std::string_view text, unsigned codePage, bool withResourceHeader);
std::string binaryToText(std::string_view bytes, unsigned codePage);

}  // namespace orv::design
