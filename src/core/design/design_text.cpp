// The text form of a component stream:
//
//   object Form1: TForm1
//     Caption = 'Setup'#13#10'Wizard'
//     Font.Style = [fsBold]
//     Items.Strings = (
//       'one'
//       'two')
//     Picture.Data = {
//       0A0B0C}
//     Columns = <
//       item [1]
//         Width = 10
//       end>
//     object Label1: TLabel
//     end
//   end
//
// Strings are quoted with '' for a quote; characters outside printable ASCII are written #n with n the
// UTF-16 code unit, and long strings are split into "+"-joined pieces. Floating-point numbers carry a
// suffix for their type: none (extended), s (single), c (currency, in units of 1/10000), d (date).
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>

#include "core/codepage.h"
#include "core/design/design.h"
#include "core/design/design_numbers.h"
#include "core/design/design_strings.h"
#include "core/text.h"

namespace orv::design {
namespace {

constexpr size_t kStringPieceLength = 64;  // rendered characters per line of a long string
constexpr size_t kBinaryBytesPerLine = 32;

bool isIdentStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80; }
bool isIdentChar(unsigned char c) { return isIdentStart(c) || (c >= '0' && c <= '9'); }

bool isKeyword(std::string_view s) {
  for (std::string_view k : {"object", "inherited", "inline", "end"})
    if (equalsNoCase(s, k)) return true;
  return false;
}

// A name the text form can carry: identifiers joined by single dots.
bool isDottedIdentifier(std::string_view s) {
  bool atStart = true;
  for (unsigned char c : s) {
    if (c == '.') {
      if (atStart) return false;
      atStart = true;
    } else if (atStart ? !isIdentStart(c) : !isIdentChar(c)) {
      return false;
    } else {
      atStart = false;
    }
  }
  return !s.empty() && !atStart;
}

// ---------------------------------------------------------------------------------------------------
// Writer

class TextWriter {
 public:
  std::string document(const Object& root) {
    object(root, 0);
    return std::move(out_);
  }

 private:
  [[noreturn]] static void fail(std::string_view message) { throw DesignError(message, DesignError::At::None, 0); }

  static void checkName(std::string_view name, std::string_view what) {
    if (!isDottedIdentifier(name)) fail(std::string(what) + " '" + std::string(name) + "' cannot be written as text");
  }

  void enter() {
    if (++depth_ > kMaxNesting) fail("the objects and lists are nested too deeply");
  }
  void leave() { --depth_; }
  void indent(size_t level) { out_.append(level * 2, ' '); }

  void object(const Object& o, size_t level) {
    enter();
    indent(level);
    out_ += (o.flags & kInherited) ? "inherited " : (o.flags & kInline) ? "inline " : "object ";
    checkName(o.className, "the class name");
    if (!o.name.empty()) {
      checkName(o.name, "the object name");
      out_ += o.name + ": ";
    }
    out_ += o.className;
    if (o.flags & kChildPosition) {
      if (!isIntegerType(o.childPosition.type)) fail("the child position is not an integer");
      out_ += " [" + std::to_string(o.childPosition.integer) + "]";
    }
    out_ += "\r\n";
    properties(o.properties, level + 1);
    for (const Object& child : o.children) object(child, level + 1);
    indent(level);
    out_ += "end\r\n";
    leave();
  }

  void properties(const std::vector<Property>& list, size_t level) {
    for (const Property& p : list) {
      checkName(p.name, "the property name");
      if (isKeyword(p.name)) fail("the property name '" + p.name + "' is a keyword of the text form");
      indent(level);
      out_ += p.name + " = ";
      value(p.value, level);
      out_ += "\r\n";
    }
  }

  // Writes the value from the current position; continuation lines are indented below `level`.
  void value(const Value& v, size_t level) {
    switch (v.type) {
      case ValueType::Null: out_ += "Null"; break;
      case ValueType::Nil: out_ += "nil"; break;
      case ValueType::False: out_ += "False"; break;
      case ValueType::True: out_ += "True"; break;
      case ValueType::Int8:
      case ValueType::Int16:
      case ValueType::Int32:
      case ValueType::Int64: out_ += std::to_string(v.integer); break;
      case ValueType::Currency: out_ += std::to_string(v.integer) + "c"; break;
      case ValueType::Extended:
      case ValueType::Double: floating(formatDouble(v.number), ""); break;
      case ValueType::Single: floating(formatSingle(std::bit_cast<float>(doubleToSingle(v.number))), "s"); break;
      case ValueType::Date: floating(formatDouble(v.number), "d"); break;
      case ValueType::String:
      case ValueType::LString:
      case ValueType::WString:
      case ValueType::Utf8String: quoted(v.text, level + 1); break;
      case ValueType::Ident:
        checkName(v.text, "the identifier");
        out_ += v.text;
        break;
      case ValueType::Set:
        out_ += "[";
        for (size_t i = 0; i < v.identifiers.size(); ++i) {
          checkName(v.identifiers[i], "the set element");
          if (i) out_ += ", ";
          out_ += v.identifiers[i];
        }
        out_ += "]";
        break;
      case ValueType::Binary: binary(v.text, level + 1); break;
      case ValueType::List: list(v, level + 1); break;
      case ValueType::Collection: collection(v, level + 1); break;
      default: fail("unknown value type " + std::to_string(unsigned(v.type)));
    }
  }

  // A NaN has no literal: it is written as the identifier NAN.
  void floating(const std::string& literal, std::string_view suffix) {
    if (literal.empty()) {
      out_ += "NAN";
      return;
    }
    out_ += literal;
    out_ += suffix;
  }

  void quoted(std::string_view text, size_t level) {
    if (text.empty()) {
      out_ += "''";
      return;
    }
    std::string piece;
    bool inQuotes = false;
    size_t rendered = 0;
    auto closePiece = [&] {
      if (inQuotes) piece += '\'';
      inQuotes = false;
      out_ += piece;
      piece.clear();
      rendered = 0;
    };
    const std::string units = utf8ToUtf16(text);
    for (size_t i = 0; i + 1 < units.size(); i += 2) {
      const char16_t u = char16_t(uint8_t(units[i]) | (uint8_t(units[i + 1]) << 8));
      if (rendered >= kStringPieceLength && !(u >= 0xDC00 && u <= 0xDFFF)) {  // a pair stays together
        closePiece();
        out_ += " +\r\n";
        indent(level);
      }
      if (u >= 32 && u < 127) {
        if (!inQuotes) piece += '\'';
        inQuotes = true;
        piece += char(u);
        if (u == '\'') piece += '\'';
      } else {
        if (inQuotes) piece += '\'';
        inQuotes = false;
        piece += '#' + std::to_string(unsigned(u));
      }
      ++rendered;
    }
    closePiece();
  }

  void binary(std::string_view bytes, size_t level) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out_ += "{";
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (i % kBinaryBytesPerLine == 0) {
        out_ += "\r\n";
        indent(level);
      }
      out_ += kHex[uint8_t(bytes[i]) >> 4];
      out_ += kHex[uint8_t(bytes[i]) & 15];
    }
    out_ += "}";
  }

  void list(const Value& v, size_t level) {
    enter();
    out_ += "(";
    for (const Value& item : v.list) {
      out_ += "\r\n";
      indent(level);
      value(item, level);
    }
    out_ += ")";
    leave();
  }

  void collection(const Value& v, size_t level) {
    enter();
    out_ += "<";
    for (const CollectionItem& item : v.items) {
      out_ += "\r\n";
      indent(level);
      out_ += "item";
      if (item.order) {
        if (!isIntegerType(item.order->type)) fail("an item order is not an integer");
        out_ += " [" + std::to_string(item.order->integer) + "]";
      }
      out_ += "\r\n";
      properties(item.properties, level + 1);
      indent(level);
      out_ += "end";
    }
    out_ += ">";
    leave();
  }

  std::string out_;
  size_t depth_ = 0;
};

// ---------------------------------------------------------------------------------------------------
// Reader

enum class Token { End, Ident, Integer, Float, String, Symbol };

class TextReader {
 public:
  TextReader(std::string_view text, unsigned codePage) : in_(text), codePage_(codePage) {
    if (in_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    next();
  }

  Object document() {
    Object root = object();
    if (token_ != Token::End) fail("text follows the end of the root object");
    return root;
  }

 private:
  [[noreturn]] void fail(std::string_view message) const {
    throw DesignError(message, DesignError::At::Line, tokenLine_);
  }

  // --- lexer ---------------------------------------------------------------------------------------

  void skipBlanks() {
    while (pos_ < in_.size()) {
      const char c = in_[pos_];
      if (c == '\n') ++line_;
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') break;
      ++pos_;
    }
  }

  void next() {
    skipBlanks();
    tokenLine_ = line_;
    text_.clear();
    if (pos_ >= in_.size()) {
      token_ = Token::End;
      return;
    }
    const unsigned char c = uint8_t(in_[pos_]);
    if (isIdentStart(c)) return identifier();
    if ((c >= '0' && c <= '9') || c == '$' ||
        ((c == '-' || c == '+') && pos_ + 1 < in_.size() &&
         ((in_[pos_ + 1] >= '0' && in_[pos_ + 1] <= '9') || in_[pos_ + 1] == '$')))
      return number();
    if (c == '\'' || c == '#') return string();
    token_ = Token::Symbol;
    text_.assign(1, char(c));
    ++pos_;
  }

  void identifier() {
    const size_t start = pos_;
    while (pos_ < in_.size()) {
      if (isIdentChar(uint8_t(in_[pos_]))) {
        ++pos_;
      } else if (in_[pos_] == '.' && pos_ + 1 < in_.size() && isIdentStart(uint8_t(in_[pos_ + 1]))) {
        pos_ += 2;
      } else {
        break;
      }
    }
    token_ = Token::Ident;
    text_.assign(in_.substr(start, pos_ - start));
  }

  void number() {
    const size_t start = pos_;
    if (in_[pos_] == '-' || in_[pos_] == '+') ++pos_;
    if (pos_ < in_.size() && in_[pos_] == '$') {
      ++pos_;
      while (pos_ < in_.size() && std::isxdigit(uint8_t(in_[pos_]))) ++pos_;
    } else {
      while (pos_ < in_.size() && (std::isalnum(uint8_t(in_[pos_])) || in_[pos_] == '.' ||
                                   ((in_[pos_] == '+' || in_[pos_] == '-') && (in_[pos_ - 1] == 'e' || in_[pos_ - 1] == 'E'))))
        ++pos_;
    }
    text_.assign(in_.substr(start, pos_ - start));
    token_ = text_.find_first_of(".eEsScCdD") == std::string::npos || text_.find('$') != std::string::npos
                 ? Token::Integer
                 : Token::Float;
  }

  // One string token: quoted runs and #n characters with nothing between them.
  void string() {
    std::u16string units;
    while (pos_ < in_.size()) {
      if (in_[pos_] == '\'') {
        ++pos_;
        for (;;) {
          if (pos_ >= in_.size() || in_[pos_] == '\n' || in_[pos_] == '\r') fail("a string is not closed on its line");
          if (in_[pos_] == '\'') {
            if (pos_ + 1 < in_.size() && in_[pos_ + 1] == '\'') {
              units += u'\'';
              pos_ += 2;
              continue;
            }
            ++pos_;
            break;
          }
          const size_t at = pos_;
          const char32_t c = decodeUtf8(in_, pos_);
          if (c == U'\uFFFD' && in_.substr(at, pos_ - at) != "\xEF\xBF\xBD") fail("a string holds bytes that are not UTF-8");
          appendUnits(units, c);
        }
      } else if (in_[pos_] == '#') {
        ++pos_;
        appendUnits(units, characterCode());
      } else {
        break;
      }
    }
    token_ = Token::String;
    units_ = std::move(units);
  }

  static std::string utf8Of(const std::u16string& units) {
    std::string bytes;
    bytes.reserve(units.size() * 2);
    for (char16_t u : units) {
      bytes.push_back(char(u & 0xFF));
      bytes.push_back(char(u >> 8));
    }
    return utf16ToUtf8(bytes);
  }

  static void appendUnits(std::u16string& units, char32_t c) {
    if (c >= 0x10000) {
      units += char16_t(0xD800 + ((c - 0x10000) >> 10));
      units += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      units += char16_t(c);
    }
  }

  char32_t characterCode() {
    const bool hex = pos_ < in_.size() && in_[pos_] == '$';
    if (hex) ++pos_;
    const size_t start = pos_;
    while (pos_ < in_.size() && (hex ? std::isxdigit(uint8_t(in_[pos_])) : std::isdigit(uint8_t(in_[pos_])))) ++pos_;
    uint32_t code = 0;
    const auto [end, ec] = std::from_chars(in_.data() + start, in_.data() + pos_, code, hex ? 16 : 10);
    if (start == pos_ || ec != std::errc() || code > 0x10FFFF) fail("a #character code is not a valid character");
    return code;
  }

  // --- grammar -------------------------------------------------------------------------------------

  bool isSymbol(char c) const { return token_ == Token::Symbol && text_[0] == c; }
  bool isWord(std::string_view w) const { return token_ == Token::Ident && equalsNoCase(text_, w); }
  void expectSymbol(char c) {
    if (!isSymbol(c)) fail(std::string("'") + c + "' expected");
    next();
  }
  std::string expectIdent(std::string_view what) {
    if (token_ != Token::Ident) fail(std::string(what) + " expected");
    std::string s = std::move(text_);
    next();
    return s;
  }

  void enter() {
    if (++depth_ > kMaxNesting) fail("the objects and lists are nested too deeply");
  }
  void leave() { --depth_; }

  bool atObjectStart() const { return isWord("object") || isWord("inherited") || isWord("inline"); }

  Object object() {
    enter();
    Object o;
    if (isWord("inherited")) o.flags = kInherited;
    else if (isWord("inline")) o.flags = kInline;
    else if (!isWord("object")) fail("'object', 'inherited' or 'inline' expected");
    next();
    std::string first = expectIdent("an object name or class");
    if (isSymbol(':')) {
      next();
      o.name = std::move(first);
      o.className = expectIdent("a class name");
    } else {
      o.className = std::move(first);
    }
    if (isSymbol('[')) {
      next();
      o.childPosition = integerToken("a child position");
      o.flags |= kChildPosition;
      expectSymbol(']');
    }
    o.prefixed = o.flags != 0;
    while (!isWord("end") && !atObjectStart()) o.properties.push_back(property());
    while (!isWord("end")) {
      if (!atObjectStart()) fail("'end' expected");
      o.children.push_back(object());
    }
    next();
    leave();
    return o;
  }

  Property property() {
    Property p;
    if (token_ == Token::End) fail("'end' expected");
    p.name = expectIdent("a property name");
    expectSymbol('=');
    p.value = value();
    return p;
  }

  Value integerToken(std::string_view what) {
    if (token_ != Token::Integer) fail(std::string(what) + " expected");
    int64_t v = 0;
    if (!parseInteger(text_, v)) fail("'" + text_ + "' is not a 64-bit integer");
    next();
    return Value::ofInteger(v);
  }

  static bool parseInteger(std::string_view t, int64_t& out) {
    const bool negative = !t.empty() && t[0] == '-';
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) t.remove_prefix(1);
    const bool hex = !t.empty() && t[0] == '$';
    if (hex) t.remove_prefix(1);
    if (t.empty()) return false;
    uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), magnitude, hex ? 16 : 10);
    if (ec != std::errc() || end != t.data() + t.size()) return false;
    if (hex && !negative) {  // $FFFFFFFF... is a bit pattern, as the platform reads it
      out = int64_t(magnitude);
      return true;
    }
    if (magnitude > uint64_t(INT64_MAX) + (negative ? 1 : 0)) return false;
    out = negative ? int64_t(0 - magnitude) : int64_t(magnitude);
    return true;
  }

  Value floatToken() {
    std::string_view literal = text_;
    if (literal[0] == '+') literal.remove_prefix(1);
    const char suffix = char(std::tolower(uint8_t(literal.back())));
    Value v;
    if (suffix == 's' || suffix == 'c' || suffix == 'd') literal.remove_suffix(1);
    if (suffix == 's') {
      const auto f = parseSingle(literal);
      if (!f) fail("'" + text_ + "' is not a number");
      v = Value::ofNumber(ValueType::Single, double(*f));
    } else if (suffix == 'c') {
      int64_t units = 0;
      if (parseInteger(literal, units)) {
        v = Value{ValueType::Currency};
        v.integer = units;
      } else {
        const auto d = parseDouble(literal);
        if (!d || !(*d >= -9.2e18 && *d <= 9.2e18)) fail("'" + text_ + "' is not a currency value");
        v = Value{ValueType::Currency};
        v.integer = std::llround(*d);
      }
    } else {
      const auto d = parseDouble(literal);
      if (!d) fail("'" + text_ + "' is not a number");
      v = Value::ofNumber(suffix == 'd' ? ValueType::Date : ValueType::Extended, *d);
    }
    next();
    return v;
  }

  // A string with its "+"-joined pieces, stored as the code page allows.
  Value stringToken() {
    std::u16string units = std::move(units_);  // joined before decoding: a piece may end inside a pair
    next();
    while (isSymbol('+')) {
      next();
      if (token_ != Token::String) fail("a string expected after '+'");
      units += units_;
      next();
    }
    const std::string text = utf8Of(units);
    Value v = Value::ofString(text);
    if (codePageToUtf8(utf8ToCodePage(text, codePage_), codePage_) != text) v.type = ValueType::WString;
    else if (utf8ToCodePage(text, codePage_).size() > 255) v.type = ValueType::LString;
    return v;
  }

  Value identValue() {
    Value v;
    if (isWord("True")) v.type = ValueType::True;
    else if (isWord("False")) v.type = ValueType::False;
    else if (isWord("nil")) v.type = ValueType::Nil;
    else if (isWord("Null")) v.type = ValueType::Null;
    else v = Value::ofIdent(text_);
    next();
    return v;
  }

  Value value() {
    switch (token_) {
      case Token::Integer: return integerToken("an integer");
      case Token::Float: return floatToken();
      case Token::String: return stringToken();
      case Token::Ident: return identValue();
      case Token::End: fail("a value expected");
      case Token::Symbol: break;
    }
    switch (text_[0]) {
      case '[': return setValue();
      case '(': return listValue();
      case '<': return collectionValue();
      case '{': return binaryValue();
      default: fail("'" + text_ + "' cannot start a value");
    }
  }

  Value setValue() {
    next();
    std::vector<std::string> names;
    if (!isSymbol(']')) {
      for (;;) {
        names.push_back(expectIdent("a set element"));
        if (isSymbol(']')) break;
        expectSymbol(',');
      }
    }
    next();
    return Value::ofSet(std::move(names));
  }

  Value listValue() {
    enter();
    next();
    Value v{ValueType::List};
    while (!isSymbol(')')) v.list.push_back(value());
    next();
    leave();
    return v;
  }

  Value collectionValue() {
    enter();
    next();
    Value v{ValueType::Collection};
    while (!isSymbol('>')) {
      if (!isWord("item")) fail("'item' expected");
      next();
      CollectionItem item;
      if (isSymbol('[')) {
        next();
        item.order = integerToken("an item order");
        expectSymbol(']');
      }
      while (!isWord("end")) item.properties.push_back(property());
      next();
      v.items.push_back(std::move(item));
    }
    next();
    leave();
    return v;
  }

  // The hex digits up to the closing brace, read straight from the text.
  Value binaryValue() {
    std::string bytes;
    int pending = -1;
    for (;; ++pos_) {
      if (pos_ >= in_.size()) fail("binary data is not closed with '}'");
      const char c = in_[pos_];
      if (c == '}') break;
      if (c == '\n') ++line_;
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
      if (!std::isxdigit(uint8_t(c))) fail("binary data holds a character that is not a hex digit");
      const int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
      if (pending < 0) {
        pending = digit;
      } else {
        bytes.push_back(char(pending * 16 + digit));
        pending = -1;
      }
    }
    if (pending >= 0) fail("binary data has an odd number of hex digits");
    ++pos_;
    next();
    return Value::ofBinary(bytes);
  }

  std::string_view in_;
  unsigned codePage_;
  size_t pos_ = 0;
  size_t line_ = 1;
  size_t tokenLine_ = 1;
  Token token_ = Token::End;
  std::string text_;
  std::u16string units_;  // of a string token
  size_t depth_ = 0;
};

}  // namespace

std::string writeText(const Object& root) { return TextWriter().document(root); }

Object readText(std::string_view text, unsigned codePage) { return TextReader(text, codePage).document(); }

}  // namespace orv::design
