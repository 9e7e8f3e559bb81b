// Hostile page designs: every malformed stream or text is refused with DesignError naming where, and
// nothing crashes, hangs or allocates what the stream merely states.
#include <gtest/gtest.h>

#include "core/design/design.h"

namespace orv::design {
namespace {

constexpr unsigned kCp1252 = 1252;

// Builds streams byte by byte.
class Bytes {
 public:
  Bytes& u8(uint8_t v) {
    s_.push_back(char(v));
    return *this;
  }
  Bytes& u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) u8(uint8_t(v >> (8 * i)));
    return *this;
  }
  Bytes& str(std::string_view v) {
    u8(uint8_t(v.size()));
    s_ += v;
    return *this;
  }
  Bytes& raw(std::string_view v) {
    s_ += v;
    return *this;
  }
  // "TPF0", an object of class TA with one property P, up to its value.
  static Bytes property() { return Bytes().raw("TPF0").str("TA").str("").str("P"); }
  size_t size() const { return s_.size(); }
  const std::string& data() const { return s_; }

 private:
  std::string s_;
};

std::string samplePage() {
  return textToBinary(
      "object Form1: TForm1\r\n"
      "  Caption = 'Setup'\r\n"
      "  Font.Style = [fsBold]\r\n"
      "  Ratio = 1.5\r\n"
      "  Size = 1.25s\r\n"
      "  Wide = #26085\r\n"
      "  Items.Strings = (\r\n    'a'\r\n    'b')\r\n"
      "  Data = {\r\n    0102030405}\r\n"
      "  Columns = <\r\n    item [1]\r\n      Width = 70000\r\n    end>\r\n"
      "  object Label1: TLabel\r\n    Caption = 'x'\r\n  end\r\n"
      "end\r\n",
      kCp1252, true);
}

TEST(DesignMalformed, EveryTruncationIsRefused) {
  for (const bool header : {true, false}) {
    std::string page = samplePage();
    if (!header) page = page.substr(page.find("TPF0"));
    for (size_t n = 0; n < page.size(); ++n) {
      SCOPED_TRACE(n);
      EXPECT_THROW(readBinary(std::string_view(page).substr(0, n), kCp1252), DesignError);
    }
    EXPECT_NO_THROW(readBinary(page, kCp1252));
  }
}

// Every byte replaced by a few telling values: the stream is refused or read, and what is read is
// written back exactly.
TEST(DesignMalformed, DamagedBytesAreRefusedOrReadExactly) {
  const std::string page = samplePage();
  size_t refused = 0;
  for (size_t i = 0; i < page.size(); ++i) {
    for (const uint8_t b : {0x00, 0x01, 0x0E, 0x7F, 0xF3, 0xFF}) {
      std::string damaged = page;
      damaged[i] = char(b);
      try {
        const Document doc = readBinary(damaged, kCp1252);
        EXPECT_EQ(writeBinary(doc, kCp1252), damaged) << "byte " << i << " = " << int(b);
      } catch (const DesignError&) {
        ++refused;
      }
    }
  }
  EXPECT_GT(refused, 0u);
}

TEST(DesignMalformed, BadStreamsNameTheirFaultAndOffset) {
  const size_t valueAt = Bytes::property().size();
  struct Case {
    const char* what;
    std::string stream;
    size_t offset;
    const char* message;
  } cases[] = {
      {"no signature", Bytes().raw("TPF1").data(), 0, "signature"},
      {"empty input", "", 0, "ends inside the signature"},
      {"unknown value type", Bytes::property().u8(22).u8(0).u8(0).data(), valueAt, "unknown value type 22"},
      {"value type 255", Bytes::property().u8(0xFF).data(), valueAt, "unknown value type 255"},
      {"long string longer than the data", Bytes::property().u8(12).u32(0xFFFFFFFF).data(), valueAt + 1,
       "runs past the end"},
      {"wide string count that overflows 32 bits when doubled", Bytes::property().u8(18).u32(0x80000001).raw("ab").data(),
       valueAt + 1, "runs past the end"},
      {"binary longer than the data", Bytes::property().u8(10).u32(1000).raw("abc").data(), valueAt + 1,
       "runs past the end"},
      {"utf-8 string longer than the data", Bytes::property().u8(20).u32(5).raw("abcd").data(), valueAt + 1,
       "runs past the end"},
      {"short string longer than the data", Bytes::property().u8(6).u8(200).raw("abc").data(), valueAt + 2,
       "ends inside a string"},
      {"collection item that is not a list", Bytes::property().u8(14).u8(2).u8(1).u8(6).data(), valueAt + 3,
       "does not start a list"},
      {"child position that is not an integer", Bytes().raw("TPF0").u8(0xF2).u8(6).str("x").data(), 5,
       "child position is not an integer"},
      {"empty class name", Bytes().raw("TPF0").str("").str("A").u8(0).u8(0).data(), 4, "no class name"},
      {"resource name without its end", Bytes().u8(0xFF).u8(10).u8(0).raw("FORM").data(), 3, "not terminated"},
      {"resource size past the data", Bytes().u8(0xFF).u8(10).u8(0).u8(0xFF).u8(1).u8(0).u8(0).u8(0).u32(0x7FFFFFFF).raw("TPF0").data(),
       8, "resource size runs past"},
      {"stream longer than its resource",
       Bytes().u8(0xFF).u8(10).u8(0).u8(0xFF).u8(1).u8(0).u8(0).u8(0).u32(6).raw("TPF0").str("TA").str("").u8(0).u8(0).data(),
       17, "ends inside a class name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      readBinary(c.stream, kCp1252);
      ADD_FAILURE() << "accepted";
    } catch (const DesignError& e) {
      EXPECT_EQ(e.at(), DesignError::At::Offset);
      EXPECT_EQ(e.position(), c.offset);
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

TEST(DesignMalformed, NestingIsBounded) {
  auto nestedLists = [](size_t depth) {
    Bytes b = Bytes::property();
    for (size_t i = 0; i < depth; ++i) b.u8(1);
    for (size_t i = 0; i < depth; ++i) b.u8(0);
    return b.u8(0).u8(0).data();
  };
  EXPECT_NO_THROW(readBinary(nestedLists(kMaxNesting - 1), kCp1252));  // the object is one level
  EXPECT_THROW(readBinary(nestedLists(kMaxNesting), kCp1252), DesignError);
  // Hundreds of thousands of nested objects: refused at the bound, not by exhausting the stack.
  Bytes deep;
  deep.raw("TPF0");
  for (int i = 0; i < 200000; ++i) deep.str("TA").str("").u8(0);
  EXPECT_THROW(readBinary(deep.data(), kCp1252), DesignError);

  std::string text;
  for (size_t i = 0; i <= kMaxNesting; ++i) text += "object A: TA\n";
  for (size_t i = 0; i <= kMaxNesting; ++i) text += "end\n";
  EXPECT_THROW(readText(text, kCp1252), DesignError);
  EXPECT_THROW(readText("object A: TA\n  L = " + std::string(100000, '(') + "\nend", kCp1252), DesignError);
}

TEST(DesignMalformed, BadTextsNameTheirLine) {
  struct Case {
    const char* what;
    const char* text;
    size_t line;
    const char* message;
  } cases[] = {
      {"unclosed string", "object A: TA\n  S = 'abc\nend", 2, "not closed"},
      {"missing end", "object A: TA\n  X = 1\n", 3, "expected"},
      {"no object", "thing A: TA\nend", 1, "'object', 'inherited' or 'inline' expected"},
      {"bad hex digit", "object A: TA\n  D = {0G}\nend", 2, "not a hex digit"},
      {"odd hex digits", "object A: TA\n  D = {ABC}\nend", 2, "odd number"},
      {"unclosed binary", "object A: TA\n  D = {AB", 2, "not closed"},
      {"integer too large", "object A: TA\n  I = 9223372036854775808\nend", 2, "not a 64-bit integer"},
      {"plus without string", "object A: TA\n  S = 'a' + 1\nend", 2, "string expected"},
      {"character code too large", "object A: TA\n  S = #1114112\nend", 2, "not a valid character"},
      {"text after the root", "object A: TA\nend\nobject B: TB\nend", 3, "follows the end"},
      {"bad float", "object A: TA\n  F = 1.2.3\nend", 2, "not a number"},
      {"missing equals", "object A: TA\n  F 1\nend", 2, "'=' expected"},
      {"set without comma", "object A: TA\n  S = [a b]\nend", 2, "',' expected"},
      {"collection without item", "object A: TA\n  C = <x>\nend", 2, "'item' expected"},
      {"stray symbol", "object A: TA\n  V = )\nend", 2, "cannot start a value"},
      {"bytes that are not UTF-8", "object A: TA\n  S = '\xFF'\nend", 2, "not UTF-8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      readText(c.text, kCp1252);
      ADD_FAILURE() << "accepted";
    } catch (const DesignError& e) {
      EXPECT_EQ(e.at(), DesignError::At::Line);
      EXPECT_EQ(e.position(), c.line);
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace orv::design
