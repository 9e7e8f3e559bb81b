// The binary component stream: reader and writer.
#include <bit>
#include <cstring>
#include <limits>

#include "core/codepage.h"
#include "core/design/design.h"
#include "core/design/design_numbers.h"
#include "core/design/design_strings.h"

namespace orv::design {
namespace {

constexpr std::string_view kSignature = "TPF0";
constexpr uint8_t kResourceMarker = 0xFF;

class BinaryReader {
 public:
  BinaryReader(std::string_view bytes, unsigned codePage) : in_(bytes), end_(bytes.size()), codePage_(codePage) {}

  Document document() {
    Document doc;
    if (!in_.empty() && uint8_t(in_[0]) == kResourceMarker) doc.header = header();
    if (take(4, "the signature") != kSignature) fail("the \"TPF0\" signature is missing", pos_ - 4);
    doc.root = object();
    // What follows the root belongs to no object; it is kept so that the file is written back as read.
    const size_t resourceEnd = end_;
    end_ = in_.size();
    doc.trailing.assign(in_.substr(pos_));
    if (doc.header) doc.header->coveredTrailing = uint32_t(resourceEnd - pos_);
    return doc;
  }

 private:
  [[noreturn]] void fail(std::string_view message, size_t at) const {
    throw DesignError(message, DesignError::At::Offset, at);
  }
  [[noreturn]] void fail(std::string_view message) const { fail(message, pos_); }

  std::string_view take(size_t n, std::string_view what) {
    if (n > end_ - pos_) fail("the data ends inside " + std::string(what));
    const std::string_view out = in_.substr(pos_, n);
    pos_ += n;
    return out;
  }
  uint8_t byte(std::string_view what) { return uint8_t(take(1, what)[0]); }
  uint64_t little(size_t n, std::string_view what) {
    const std::string_view b = take(n, what);
    uint64_t v = 0;
    for (size_t i = n; i-- > 0;) v = (v << 8) | uint8_t(b[i]);
    return v;
  }
  uint8_t peek(std::string_view what) {
    if (pos_ >= end_) fail("the data ends before " + std::string(what));
    return uint8_t(in_[pos_]);
  }
  std::string shortString(std::string_view what) { return std::string(take(byte(what), what)); }
  // A 32-bit length and that many units; the length is checked against what is left before anything
  // is allocated.
  std::string_view counted(size_t unitSize, std::string_view what) {
    const size_t at = pos_;
    const uint64_t count = little(4, what);
    if (count * unitSize > end_ - pos_) fail("the length of " + std::string(what) + " runs past the end of the data", at);
    return take(size_t(count * unitSize), what);
  }

  ResourceHeader header() {
    ResourceHeader h;
    byte("the resource header");
    h.type = uint16_t(little(2, "the resource type"));
    if (peek("the resource name") == kResourceMarker) {
      ++pos_;
      h.nameId = uint16_t(little(2, "the resource name"));
    } else {
      const size_t nul = in_.find('\0', pos_);
      if (nul == std::string_view::npos) fail("the resource name is not terminated");
      h.name.assign(in_.substr(pos_, nul - pos_));
      pos_ = nul + 1;
    }
    h.flags = uint16_t(little(2, "the resource flags"));
    const size_t sizeAt = pos_;
    const uint64_t size = little(4, "the resource size");
    if (size > end_ - pos_) fail("the resource size runs past the end of the data", sizeAt);
    end_ = pos_ + size_t(size);
    return h;
  }

  void enter() {
    if (++depth_ > kMaxNesting) fail("the objects and lists are nested too deeply");
  }
  void leave() { --depth_; }

  Value integerValue(std::string_view what) {
    const size_t at = pos_;
    const auto type = ValueType(byte(what));
    if (!isIntegerType(type)) fail(std::string(what) + " is not an integer", at);
    return scalar(type, at);
  }

  Object object() {
    enter();
    Object o;
    if ((peek("an object") & 0xF0) == 0xF0) {
      o.prefixed = true;
      o.flags = byte("an object") & 0x0F;
      if (o.flags & kChildPosition) o.childPosition = integerValue("the child position");
    }
    const size_t classAt = pos_;
    o.className = shortString("a class name");
    if (o.className.empty()) fail("an object has no class name", classAt);
    o.name = shortString("an object name");
    o.properties = properties();
    while (peek("the end of the children") != 0) o.children.push_back(object());
    ++pos_;
    leave();
    return o;
  }

  std::vector<Property> properties() {
    std::vector<Property> list;
    while (peek("the end of the properties") != 0) {
      Property p;
      p.name = shortString("a property name");
      const size_t at = pos_;
      p.value = value(ValueType(byte("a property value")), at);
      list.push_back(std::move(p));
    }
    ++pos_;
    return list;
  }

  Value value(ValueType type, size_t at) {
    switch (type) {
      case ValueType::List: return list(at);
      case ValueType::Collection: return collection(at);
      default: return scalar(type, at);
    }
  }

  Value list(size_t) {
    enter();
    Value v{ValueType::List};
    while (peek("the end of a list") != 0) {
      const size_t at = pos_;
      v.list.push_back(value(ValueType(byte("a list item")), at));
    }
    ++pos_;
    leave();
    return v;
  }

  Value collection(size_t) {
    enter();
    Value v{ValueType::Collection};
    while (peek("the end of a collection") != 0) {
      CollectionItem item;
      if (isIntegerType(ValueType(peek("a collection item")))) item.order = integerValue("an item order");
      const size_t at = pos_;
      if (ValueType(byte("a collection item")) != ValueType::List) fail("a collection item does not start a list", at);
      item.properties = properties();
      v.items.push_back(std::move(item));
    }
    ++pos_;
    leave();
    return v;
  }

  Value scalar(ValueType type, size_t at) {
    Value v{type};
    switch (type) {
      case ValueType::Null:
      case ValueType::Nil:
      case ValueType::False:
      case ValueType::True: break;
      case ValueType::Int8: v.integer = int8_t(little(1, "an integer")); break;
      case ValueType::Int16: v.integer = int16_t(little(2, "an integer")); break;
      case ValueType::Int32: v.integer = int32_t(little(4, "an integer")); break;
      case ValueType::Int64:
      case ValueType::Currency: v.integer = int64_t(little(8, "an integer")); break;
      case ValueType::Extended: {
        Extended80 raw;
        std::memcpy(raw.data(), take(10, "an extended number").data(), 10);
        v.number = extendedToDouble(raw);
        if (doubleToExtended(v.number) != raw) v.stored.assign(reinterpret_cast<const char*>(raw.data()), 10);
        break;
      }
      case ValueType::Single: {
        const uint32_t bits = uint32_t(little(4, "a single number"));
        v.number = singleToDouble(bits);
        break;
      }
      case ValueType::Date:
      case ValueType::Double: v.number = std::bit_cast<double>(little(8, "a floating-point number")); break;
      case ValueType::String: codePageText(v, take(byte("a string"), "a string")); break;
      case ValueType::LString: codePageText(v, counted(1, "a long string")); break;
      case ValueType::WString: {
        const std::string_view units = counted(2, "a wide string");
        v.text = utf16ToUtf8(units);
        if (utf8ToUtf16(v.text) != units) v.stored.assign(units);
        break;
      }
      case ValueType::Utf8String: v.text.assign(counted(1, "a UTF-8 string")); break;
      case ValueType::Ident: v.text = shortString("an identifier"); break;
      case ValueType::Binary: v.text.assign(counted(1, "binary data")); break;
      case ValueType::Set:
        for (std::string name = shortString("a set"); !name.empty(); name = shortString("a set"))
          v.identifiers.push_back(std::move(name));
        break;
      default: fail("unknown value type " + std::to_string(unsigned(type)), at);
    }
    return v;
  }

  void codePageText(Value& v, std::string_view bytes) {
    v.text = codePageToUtf8(bytes, codePage_);
    if (utf8ToCodePage(v.text, codePage_) != bytes) v.stored.assign(bytes);
  }

  std::string_view in_;
  size_t pos_ = 0;
  size_t end_;
  unsigned codePage_;
  size_t depth_ = 0;
};

class BinaryWriter {
 public:
  explicit BinaryWriter(unsigned codePage) : codePage_(codePage) {}

  std::string document(const Document& doc) {
    out_.clear();
    out_ += kSignature;
    object(doc.root);
    const size_t streamSize = out_.size();
    out_ += doc.trailing;
    if (!doc.header) return std::move(out_);
    const ResourceHeader& h = *doc.header;
    std::string head;
    std::swap(head, out_);
    out_.push_back(char(kResourceMarker));
    little(h.type, 2);
    if (h.nameId) {
      out_.push_back(char(kResourceMarker));
      little(*h.nameId, 2);
    } else {
      if (h.name.find('\0') != std::string::npos) fail("the resource name holds a NUL character");
      out_ += h.name;
      out_.push_back('\0');
    }
    little(h.flags, 2);
    little(checkedSize(streamSize + std::min<size_t>(h.coveredTrailing, doc.trailing.size())), 4);
    out_ += head;
    return std::move(out_);
  }

 private:
  [[noreturn]] static void fail(std::string_view message) { throw DesignError(message, DesignError::At::None, 0); }

  static uint32_t checkedSize(size_t n) {
    if (n > std::numeric_limits<uint32_t>::max()) fail("a length does not fit 32 bits");
    return uint32_t(n);
  }
  void little(uint64_t v, size_t n) {
    for (size_t i = 0; i < n; ++i) out_.push_back(char(uint8_t(v >> (8 * i))));
  }
  void type(ValueType t) { out_.push_back(char(t)); }
  void shortString(std::string_view s, std::string_view what) {
    if (s.size() > 255) fail(std::string(what) + " is longer than 255 bytes");
    out_.push_back(char(uint8_t(s.size())));
    out_ += s;
  }
  void counted(std::string_view bytes, size_t unitSize) {
    little(checkedSize(bytes.size() / unitSize), 4);
    out_ += bytes;
  }
  void enter() {
    if (++depth_ > kMaxNesting) fail("the objects and lists are nested too deeply");
  }
  void leave() { --depth_; }

  void object(const Object& o) {
    enter();
    if (o.prefixed || o.flags != 0) {
      if (o.flags > 0x0F) fail("object flags do not fit the prefix");
      out_.push_back(char(0xF0 | o.flags));
      if (o.flags & kChildPosition) integer(o.childPosition, "the child position");
    }
    if (o.className.empty()) fail("an object has no class name");
    shortString(o.className, "a class name");
    shortString(o.name, "an object name");
    properties(o.properties);
    for (const Object& child : o.children) object(child);
    out_.push_back(0);
    leave();
  }

  void properties(const std::vector<Property>& list) {
    for (const Property& p : list) {
      if (p.name.empty()) fail("a property has no name");
      shortString(p.name, "a property name");
      value(p.value);
    }
    out_.push_back(0);
  }

  // Integers keep their width while the value fits it, else take the narrowest that holds them.
  void integer(const Value& v, std::string_view what) {
    if (!isIntegerType(v.type)) fail(std::string(what) + " is not an integer");
    ValueType t = v.type;
    const auto fits = [&](ValueType w) {
      switch (w) {
        case ValueType::Int8: return v.integer >= INT8_MIN && v.integer <= INT8_MAX;
        case ValueType::Int16: return v.integer >= INT16_MIN && v.integer <= INT16_MAX;
        case ValueType::Int32: return v.integer >= INT32_MIN && v.integer <= INT32_MAX;
        default: return true;
      }
    };
    if (!fits(t)) t = Value::ofInteger(v.integer).type;
    type(t);
    little(uint64_t(v.integer), t == ValueType::Int8 ? 1 : t == ValueType::Int16 ? 2 : t == ValueType::Int32 ? 4 : 8);
  }

  void value(const Value& v) {
    switch (v.type) {
      case ValueType::Null:
      case ValueType::Nil:
      case ValueType::False:
      case ValueType::True: type(v.type); break;
      case ValueType::Int8:
      case ValueType::Int16:
      case ValueType::Int32:
      case ValueType::Int64: integer(v, "an integer value"); break;
      case ValueType::Currency:
        type(v.type);
        little(uint64_t(v.integer), 8);
        break;
      case ValueType::Extended: {
        type(v.type);
        if (v.stored.size() == 10) {
          Extended80 raw;
          std::memcpy(raw.data(), v.stored.data(), 10);
          if (sameBits(extendedToDouble(raw), v.number)) {
            out_ += v.stored;
            break;
          }
        }
        const Extended80 raw = doubleToExtended(v.number);
        out_.append(reinterpret_cast<const char*>(raw.data()), raw.size());
        break;
      }
      case ValueType::Single: {
        type(v.type);
        little(doubleToSingle(v.number), 4);
        break;
      }
      case ValueType::Date:
      case ValueType::Double:
        type(v.type);
        little(std::bit_cast<uint64_t>(v.number), 8);
        break;
      case ValueType::String:
      case ValueType::LString:
      case ValueType::WString: text(v); break;
      case ValueType::Utf8String:
        type(v.type);
        counted(v.text, 1);
        break;
      case ValueType::Ident:
        if (v.text.empty()) fail("an identifier value is empty");
        type(v.type);
        shortString(v.text, "an identifier");
        break;
      case ValueType::Binary:
        type(v.type);
        counted(v.text, 1);
        break;
      case ValueType::Set:
        type(v.type);
        for (const std::string& name : v.identifiers) {
          if (name.empty()) fail("a set holds an empty identifier");
          shortString(name, "a set identifier");
        }
        out_.push_back(0);
        break;
      case ValueType::List:
        enter();
        type(v.type);
        for (const Value& item : v.list) value(item);
        out_.push_back(0);
        leave();
        break;
      case ValueType::Collection:
        enter();
        type(v.type);
        for (const CollectionItem& item : v.items) {
          if (item.order) integer(*item.order, "an item order");
          type(ValueType::List);
          properties(item.properties);
        }
        out_.push_back(0);
        leave();
        break;
      default: fail("unknown value type " + std::to_string(unsigned(v.type)));
    }
  }

  // Code-page strings go out as read while they still decode to the text; a text the code page cannot
  // hold becomes a wide string, a short string over 255 bytes a long one.
  void text(const Value& v) {
    if (v.type == ValueType::WString) {
      type(v.type);
      const bool keep = !v.stored.empty() && utf16ToUtf8(v.stored) == v.text;
      counted(keep ? v.stored : utf8ToUtf16(v.text), 2);
      return;
    }
    std::string bytes;
    if (!v.stored.empty() && codePageToUtf8(v.stored, codePage_) == v.text) bytes = v.stored;
    else bytes = utf8ToCodePage(v.text, codePage_);
    if (codePageToUtf8(bytes, codePage_) != v.text && isValidUtf8(v.text)) {
      type(ValueType::WString);
      counted(utf8ToUtf16(v.text), 2);
      return;
    }
    if (v.type == ValueType::String && bytes.size() <= 255) {
      type(ValueType::String);
      shortString(bytes, "a string");
    } else {
      type(ValueType::LString);
      counted(bytes, 1);
    }
  }

  std::string out_;
  unsigned codePage_;
  size_t depth_ = 0;
};

}  // namespace

Document readBinary(std::string_view bytes, unsigned codePage) { return BinaryReader(bytes, codePage).document(); }

std::string writeBinary(const Document& document, unsigned codePage) {
  return BinaryWriter(codePage).document(document);
}

}  // namespace orv::design
