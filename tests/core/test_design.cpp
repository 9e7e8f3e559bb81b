// Page designs: the extended-number conversion, every value type through text and binary, exact binary
// round trips of what the reader keeps, and a realistic page.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "core/design/design.h"
#include "core/design/design_numbers.h"

namespace orv::design {
namespace {

constexpr unsigned kCp1252 = 1252;

std::string crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string fromHex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(char(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    i += 2;
  }
  return out;
}

Extended80 extended(uint64_t mantissa, uint16_t signAndExponent) {
  Extended80 e{};
  for (int i = 0; i < 8; ++i) e[i] = uint8_t(mantissa >> (8 * i));
  e[8] = uint8_t(signAndExponent);
  e[9] = uint8_t(signAndExponent >> 8);
  return e;
}

uint64_t bitsOf(double d) { return std::bit_cast<uint64_t>(d); }

TEST(DesignNumbers, ExtendedConvertsToTheNearestDouble) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    Extended80 in;
    double expected;
  } cases[] = {
      {"one", extended(0x8000000000000000, 0x3FFF), 1.0},
      {"minus 2.5", extended(0xA000000000000000, 0xC000), -2.5},
      {"0.1 rounds to the double 0.1", extended(0xCCCCCCCCCCCCCCCD, 0x3FFB), 0.1},
      {"largest double", extended(0xFFFFFFFFFFFFF800, 0x43FE), std::numeric_limits<double>::max()},
      {"rounds up past the largest double", extended(0xFFFFFFFFFFFFFC00, 0x43FE), inf},
      {"too large", extended(0x8000000000000000, 0x5000), inf},
      {"smallest subnormal", extended(0x8000000000000000, 0x3FFF - 1074), 4.9406564584124654e-324},
      {"half the smallest subnormal ties to zero", extended(0x8000000000000000, 0x3FFF - 1075), 0.0},
      {"just over half rounds up", extended(0x8000000000000001, 0x3FFF - 1075), 4.9406564584124654e-324},
      {"too small", extended(0x8000000000000000, 0x0100), 0.0},
      {"negative zero", extended(0, 0x8000), -0.0},
      {"tie to even stays", extended(0x8000000000000400, 0x3FFF), 1.0},
      {"tie to even rounds up", extended(0x8000000000000C00, 0x3FFF), 1.0 + 2 * 2.220446049250313e-16},
      {"minus infinity", extended(0x8000000000000000, 0xFFFF), -inf},
      {"extended denormal", extended(0x4000000000000000, 0x0000), 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(bitsOf(extendedToDouble(c.in)), bitsOf(c.expected));
  }
  EXPECT_TRUE(std::isnan(extendedToDouble(extended(0xC000000000000001, 0x7FFF))));
}

TEST(DesignNumbers, EveryDoubleSurvivesTheExtendedForm) {
  const double values[] = {0.0,  -0.0, 1.0,    -1.5, 0.1,  1e300, -1e-300, 4.9406564584124654e-324,
                           2.2250738585072009e-308, 2.2250738585072014e-308, std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::infinity(), std::bit_cast<double>(uint64_t(0x7FF4000000000123))};
  for (double d : values) {
    SCOPED_TRACE(d);
    EXPECT_EQ(bitsOf(extendedToDouble(doubleToExtended(d))), bitsOf(d));
  }
  EXPECT_EQ(doubleToExtended(1.0), extended(0x8000000000000000, 0x3FFF));
  EXPECT_EQ(doubleToExtended(4.9406564584124654e-324), extended(0x8000000000000000, 0x3FFF - 1074));
}

// Every value type the text form produces: text -> binary -> text gives the same text, and the binary
// holds the expected type.
TEST(DesignRoundTrip, TextThroughBinaryForEveryValueType) {
  const std::string longText(300, 'x');
  const std::string longLiteral = "'" + std::string(64, 'x') + "' +\r\n    '" + std::string(64, 'x') + "' +\r\n    '" +
                                  std::string(64, 'x') + "' +\r\n    '" + std::string(64, 'x') + "' +\r\n    '" +
                                  std::string(44, 'x') + "'";
  struct Case {
    std::string literal;
    ValueType type;
  } cases[] = {
      {"Null", ValueType::Null},
      {"(\r\n    1\r\n    'two'\r\n    (\r\n      3))", ValueType::List},
      {"()", ValueType::List},
      {"-128", ValueType::Int8},
      {"-129", ValueType::Int16},
      {"32768", ValueType::Int32},
      {"-2147483649", ValueType::Int64},
      {"9223372036854775807", ValueType::Int64},
      {"1.5", ValueType::Extended},
      {"-0.0", ValueType::Extended},
      {"1e+300", ValueType::Extended},
      {"1E+9999", ValueType::Extended},
      {"'It''s'", ValueType::String},
      {"''", ValueType::String},
      {"'Prod'#252'ct'", ValueType::String},
      {"#129", ValueType::String},  // U+0081, a 1252 position without a character of its own
      {"'a'#13#10'b'#0", ValueType::String},
      {"alClient", ValueType::Ident},
      {"Form2.Button1", ValueType::Ident},
      {"False", ValueType::False},
      {"True", ValueType::True},
      {"{\r\n    00FF10}", ValueType::Binary},
      {"{}", ValueType::Binary},
      {"[fsBold, fsItalic]", ValueType::Set},
      {"[]", ValueType::Set},
      {longLiteral, ValueType::LString},
      {"nil", ValueType::Nil},
      {"<\r\n    item\r\n      Width = 1\r\n    end\r\n    item [7]\r\n    end>", ValueType::Collection},
      {"<>", ValueType::Collection},
      {"0.25s", ValueType::Single},
      {"15000c", ValueType::Currency},
      {"-1c", ValueType::Currency},
      {"45000.5d", ValueType::Date},
      {"#26085#26412", ValueType::WString},
      {"'Emoji '#55357#56832", ValueType::WString},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.literal);
    const std::string text = "object Form1: TForm1\r\n  Value = " + c.literal + "\r\nend\r\n";
    std::string binary;
    ASSERT_NO_THROW(binary = textToBinary(text, kCp1252, false));
    const Document doc = readBinary(binary, kCp1252);
    ASSERT_EQ(doc.root.properties.size(), 1u);
    EXPECT_EQ(doc.root.properties[0].value.type, c.type);
    EXPECT_EQ(binaryToText(binary, kCp1252), text);
    EXPECT_EQ(writeBinary(doc, kCp1252), binary);
  }
  const Object parsed = readText("object A: TA\r\n  S = " + longLiteral + "\r\nend\r\n", kCp1252);
  EXPECT_EQ(parsed.properties[0].value.text, longText);
}

// Binary -> tree -> binary is exact, including what the text form cannot tell apart.
TEST(DesignRoundTrip, BinaryThroughTreeIsExact) {
  const std::string head = "TPF0" + fromHex("05 54 46 6F 72 6D 00 01 56");  // object "TForm", "", property "V"
  const std::string tail = fromHex("00 00");
  struct Case {
    const char* what;
    std::string value;  // type byte and payload
    unsigned codePage;
    std::function<void(const Value&)> check;
  } cases[] = {
      {"int8", fromHex("02 FE"), kCp1252, [](const Value& v) { EXPECT_EQ(v.integer, -2); }},
      {"small value kept in a wide integer", fromHex("04 05 00 00 00"), kCp1252,
       [](const Value& v) { EXPECT_EQ(v.type, ValueType::Int32); }},
      {"int64", fromHex("13 FF FF FF FF FF FF FF 7F"), kCp1252, [](const Value& v) { EXPECT_EQ(v.integer, INT64_MAX); }},
      {"extended with more precision than a double", fromHex("05 01 00 00 00 00 00 00 80 FF 3F"), kCp1252,
       [](const Value& v) { EXPECT_EQ(v.number, 1.0); }},
      {"single with a signalling NaN", fromHex("0F 01 00 80 7F"), kCp1252,
       [](const Value& v) { EXPECT_TRUE(std::isnan(v.number)); }},
      {"double", fromHex("15 00 00 00 00 00 00 F8 3F"), kCp1252, [](const Value& v) { EXPECT_EQ(v.number, 1.5); }},
      {"date", fromHex("11 00 00 00 00 00 00 00 40"), kCp1252, [](const Value& v) { EXPECT_EQ(v.number, 2.0); }},
      {"currency", fromHex("10 98 3A 00 00 00 00 00 00"), kCp1252, [](const Value& v) { EXPECT_EQ(v.integer, 15000); }},
      {"code-page string", fromHex("06 03 FC 80 41"), kCp1252, [](const Value& v) { EXPECT_EQ(v.text, "ü€A"); }},
      {"byte the code page cannot show", fromHex("06 02 E9 41"), 20127, [](const Value& v) { EXPECT_EQ(v.text, "?A"); }},
      {"short text in a long string", fromHex("0C 02 00 00 00 68 69"), kCp1252,
       [](const Value& v) { EXPECT_EQ(v.text, "hi"); }},
      {"wide string", fromHex("12 02 00 00 00 E5 65 2C 67"), kCp1252, [](const Value& v) { EXPECT_EQ(v.text, "日本"); }},
      {"unpaired surrogate", fromHex("12 01 00 00 00 00 D8"), kCp1252, [](const Value& v) { EXPECT_EQ(v.text, "\uFFFD"); }},
      {"utf-8 string as is", fromHex("14 03 00 00 00 C3 BC FF"), kCp1252,
       [](const Value& v) { EXPECT_EQ(v.text, "\xC3\xBC\xFF"); }},
      {"set", fromHex("0B 06 66 73 42 6F 6C 64 00"), kCp1252,
       [](const Value& v) { EXPECT_EQ(v.identifiers, std::vector<std::string>{"fsBold"}); }},
      {"binary", fromHex("0A 03 00 00 00 00 01 02"), kCp1252, [](const Value& v) { EXPECT_EQ(v.text.size(), 3u); }},
      {"collection with order values", fromHex("0E 02 05 01 01 57 02 01 00 03 00 01 01 00 00"), kCp1252,
       [](const Value& v) {
         ASSERT_EQ(v.items.size(), 2u);
         EXPECT_EQ(v.items[0].order->integer, 5);
         EXPECT_EQ(v.items[0].properties[0].name, "W");
         EXPECT_EQ(v.items[1].order->type, ValueType::Int16);
       }},
      {"null", fromHex("00"), kCp1252, [](const Value& v) { EXPECT_EQ(v.type, ValueType::Null); }},
      {"nil, false, true and an empty list in a list", fromHex("01 0D 08 09 01 00 00"), kCp1252,
       [](const Value& v) { EXPECT_EQ(v.list.size(), 4u); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string stream = head + c.value + tail;
    Document doc;
    ASSERT_NO_THROW(doc = readBinary(stream, c.codePage));
    ASSERT_EQ(doc.root.properties.size(), 1u);
    c.check(doc.root.properties[0].value);
    EXPECT_EQ(writeBinary(doc, c.codePage), stream);
  }
}

TEST(DesignRoundTrip, PrefixesHeadersAndTrailingBytesAreKept) {
  const std::string inherited = "TPF0" + fromHex("F3 02 04 05 54 46 6F 72 6D 01 46 00 F4 02 54 43 01 43 00 00 00");
  const std::string withName = fromHex("FF 0A 00 54 46 4F 52 4D 00 30 10 19 00 00 00") + inherited;
  // The stated size covers two padding bytes; "junk" lies behind the resource.
  const std::string withId = fromHex("FF 0A 00 FF 07 00 30 10 1B 00 00 00") + inherited + std::string("\0\0junk", 6);
  for (const std::string& stream : {inherited, withName, withId}) {
    const Document doc = readBinary(stream, kCp1252);
    EXPECT_EQ(writeBinary(doc, kCp1252), stream);
    EXPECT_EQ(doc.root.flags, kInherited | kChildPosition);
    EXPECT_EQ(doc.root.childPosition.integer, 4);
    ASSERT_EQ(doc.root.children.size(), 1u);
    EXPECT_EQ(doc.root.children[0].flags, kInline);
  }
  EXPECT_EQ(readBinary(withName, kCp1252).header->name, "TFORM");
  EXPECT_EQ(*readBinary(withId, kCp1252).header->nameId, 7);
  EXPECT_EQ(readBinary(withId, kCp1252).trailing, std::string("\0\0junk", 6));
  EXPECT_EQ(binaryToText(inherited, kCp1252), "inherited F: TForm [4]\r\n  inline C: TC\r\n  end\r\nend\r\n");
}

TEST(DesignText, StringsAreEscapedAndSplit) {
  struct Case {
    std::string text;
    std::string literal;
  } cases[] = {
      {"It's", "'It''s'"},
      {"a\r\nb", "'a'#13#10'b'"},
      {"Prodüct", "'Prod'#252'ct'"},
      {"😀", "#55357#56832"},
      {"\t", "#9"},
      {std::string(64, 'a') + "😀", "'" + std::string(64, 'a') + "' +\r\n    #55357#56832"},
      {std::string(63, 'a') + "😀", "'" + std::string(63, 'a') + "'#55357#56832"},  // the pair stays together
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.literal);
    Object o;
    o.className = "TA";
    o.properties.push_back({"S", Value::ofString(c.text)});
    const std::string text = writeText(o);
    EXPECT_EQ(text, "object TA\r\n  S = " + c.literal + "\r\nend\r\n");
    EXPECT_EQ(readText(text, kCp1252).properties[0].value.text, c.text);
  }
}

TEST(DesignText, ReadsTheLooserFormsAuthorsWrite) {
  const Object o = readText(
      "\xEF\xBB\xBF"
      "OBJECT Form1 : TForm1\n"
      "  Caption = 'Setup' + ' ' +\n"
      "     'Wizard'#$21\n"
      "  Mask = $FF\n"
      "  Neg = -$10\n"
      "  Ratio = +2.5E3\n"
      "  Items = <item Width = 3 end item[2] end>\n"
      "  Picture.Data = { 0a 0B\n 0c }\n"
      "  Flag = true\n"
      "  object Child1: TEdit end\n"
      "End",
      kCp1252);
  EXPECT_EQ(o.name, "Form1");
  EXPECT_EQ(o.property("caption")->value.text, "Setup Wizard!");
  EXPECT_EQ(o.property("Mask")->value.integer, 255);
  EXPECT_EQ(o.property("Neg")->value.integer, -16);
  EXPECT_EQ(o.property("Ratio")->value.number, 2500.0);
  EXPECT_EQ(o.property("Items")->value.items.size(), 2u);
  EXPECT_EQ(o.property("Items")->value.items[1].order->integer, 2);
  EXPECT_EQ(o.property("Picture.Data")->value.text, "\x0A\x0B\x0C");
  EXPECT_EQ(o.property("Flag")->value.type, ValueType::True);
  ASSERT_EQ(o.children.size(), 1u);
  EXPECT_EQ(o.children[0].className, "TEdit");
}

// A welcome page as the authoring tool writes it: labels, edits, buttons, a check box, a list with
// Items.Strings, a picture, fonts and sets, texts outside ASCII.
const char* const kWelcomePage = R"(object WelcomeForm: TWelcomeForm
  Left = 0
  Top = 0
  BorderStyle = bsDialog
  Caption = 'Welcome'
  ClientHeight = 313
  ClientWidth = 497
  Color = clBtnFace
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'Tahoma'
  Font.Style = []
  OldCreateOrder = False
  PixelsPerInch = 96
  TextHeight = 13
  object Title: TLabel
    Left = 16
    Top = 12
    Width = 300
    Height = 19
    Caption = 'Willkommen bei Prod'#252'ct $VERSION$'
    Font.Charset = ANSI_CHARSET
    Font.Height = -16
    Font.Name = 'Segoe UI'
    Font.Style = [fsBold, fsUnderline]
    ParentFont = False
  end
  object TargetEdit: TEdit
    Left = 16
    Top = 120
    Width = 361
    Height = 21
    Hint = 'TARGETDIR'
    Tag = 2
    TabOrder = 0
    Text = 'C:\Program Files\Prod'#252'ct\'
  end
  object UserEdit: TEdit
    Left = 16
    Top = 150
    Width = 361
    Height = 21
    Hint = 'USERNAME'
    TabOrder = 1
  end
  object NextButton: TButton
    Left = 330
    Top = 280
    Width = 75
    Height = 25
    Caption = '&Next >'
    Default = True
    Tag = 6
    TabOrder = 2
  end
  object CancelButton: TButton
    Left = 414
    Top = 280
    Width = 75
    Height = 25
    Cancel = True
    Caption = 'Cancel'
    Tag = 2
    TabOrder = 3
  end
  object AgreeCheck: TRzCheckBox
    Left = 16
    Top = 200
    Width = 200
    Height = 17
    Caption = 'I accept the license'
    Hint = 'LICENSE'
    State = cbUnchecked
    TabOrder = 4
  end
  object Features: TListBox
    Left = 16
    Top = 230
    Width = 200
    Height = 40
    ItemHeight = 13
    Items.Strings = (
      'Core files'
      'Documentation'
      #26085#26412#35486)
    TabOrder = 5
  end
  object Logo: TImage
    Left = 400
    Top = 8
    Width = 80
    Height = 80
    Picture.Data = {
      0954506E67496D61676589504E470D0A1A0A0000000D49484452000000100000
      00100806000000}
  end
end
)";

TEST(DesignPage, WelcomePageRoundTripsAndReadsAsExpected) {
  const std::string text = crlf(kWelcomePage);
  const std::string binary = textToBinary(text, kCp1252, true);
  const Document doc = readBinary(binary, kCp1252);

  ASSERT_TRUE(doc.header.has_value());
  EXPECT_EQ(doc.header->type, 10);
  EXPECT_EQ(doc.header->name, "TWELCOMEFORM");
  EXPECT_EQ(uint8_t(binary[0]), 0xFF);
  const Object& form = doc.root;
  EXPECT_EQ(form.className, "TWelcomeForm");
  ASSERT_EQ(form.children.size(), 8u);
  EXPECT_EQ(form.property("Font.Name")->value.text, "Tahoma");

  const Object& title = form.children[0];
  EXPECT_EQ(title.property("Caption")->value.text, "Willkommen bei Prodüct $VERSION$");
  EXPECT_EQ(title.property("Caption")->value.type, ValueType::String);
  EXPECT_EQ(title.property("Font.Style")->value.identifiers, (std::vector<std::string>{"fsBold", "fsUnderline"}));
  EXPECT_EQ(form.children[1].property("Hint")->value.text, "TARGETDIR");
  EXPECT_EQ(form.children[1].property("Tag")->value.integer, 2);
  EXPECT_EQ(form.children[3].property("Default")->value.type, ValueType::True);
  EXPECT_EQ(form.children[5].className, "TRzCheckBox");

  const Value& items = form.children[6].property("Items.Strings")->value;
  ASSERT_EQ(items.list.size(), 3u);
  EXPECT_EQ(items.list[2].text, "日本語");
  EXPECT_EQ(items.list[2].type, ValueType::WString);

  const Value& picture = form.children[7].property("Picture.Data")->value;
  EXPECT_EQ(picture.type, ValueType::Binary);
  EXPECT_EQ(picture.text.size(), 39u);
  EXPECT_EQ(picture.text.substr(0, 10), "\x09TPngImage");

  EXPECT_EQ(writeBinary(doc, kCp1252), binary);
  EXPECT_EQ(binaryToText(binary, kCp1252), text);
}

TEST(DesignWriter, RefusesWhatTheFormsCannotCarry) {
  Object o;
  o.className = "TA";
  o.properties.push_back({std::string(256, 'n'), Value::ofInteger(1)});
  EXPECT_THROW(writeBinary(Document{std::nullopt, o, {}}, kCp1252), DesignError);
  o.properties = {{"end", Value::ofInteger(1)}};
  EXPECT_THROW(writeText(o), DesignError);
  o.properties = {{"Good", Value::ofIdent("not an identifier")}};
  EXPECT_THROW(writeText(o), DesignError);
  // A text the code page cannot hold goes out as a wide string rather than with question marks.
  o.properties = {{"S", Value::ofString("日本")}};
  const Document back = readBinary(writeBinary(Document{std::nullopt, o, {}}, kCp1252), kCp1252);
  EXPECT_EQ(back.root.properties[0].value.type, ValueType::WString);
  EXPECT_EQ(back.root.properties[0].value.text, "日本");
}

}  // namespace
}  // namespace orv::design
