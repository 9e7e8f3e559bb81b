// The text operations behind the string commands: script integers, replace, path parts, Parse String.
#include <gtest/gtest.h>

#include "core/textops.h"

namespace orv {
namespace {

TEST(ScriptIntegerTest, AcceptsOnlySignAndDigitsWithinRange) {
  struct Case {
    const char* text;
    std::optional<int32_t> expected;
  };
  const Case cases[] = {
      {"0", 0},           {"-0", 0},        {"+17", 17},       {"0042", 42},
      {"2147483647", 2147483647},           {"-2147483648", INT32_MIN},
      {"2147483648", {}}, {"-2147483649", {}}, {"", {}},       {"+", {}},
      {"-", {}},          {" 1", {}},       {"1 ", {}},        {"1e3", {}},
      {"0x1F", {}},       {"١", {}},  // digits of other scripts are not digits here
  };
  for (const auto& c : cases) EXPECT_EQ(toInt32(c.text), c.expected) << c.text;
  EXPECT_EQ(toInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(toInt64("9223372036854775808"), std::nullopt);
  EXPECT_THROW(toInt32OrThrow("x"), ConversionError);
  try {
    toInt32OrThrow("abc");
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
}

TEST(ReplaceTest, FirstOrEveryOccurrenceWithOrWithoutCase) {
  struct Case {
    const char* text;
    const char* what;
    const char* with;
    bool ignoreCase;
    bool every;
    const char* expected;
  };
  const Case cases[] = {
      {"a-b-c", "-", "+", false, false, "a+b-c"},
      {"a-b-c", "-", "+", false, true, "a+b+c"},
      {"Hello hello", "HELLO", "bye", true, true, "bye bye"},
      {"Hello hello", "HELLO", "bye", false, true, "Hello hello"},
      {"Hello hello", "hello", "bye", false, false, "Hello bye"},
      {"ÄÖ äö", "äö", "x", true, true, "x x"},
      {"aaa", "aa", "a", false, true, "aa"},  // no rescan of the replacement
      {"abc", "", "x", false, true, "abc"},   // nothing to find
      {"abc", "b", "", false, true, "ac"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(replaceText(c.text, c.what, c.with, c.ignoreCase, c.every), c.expected) << c.text;
}

TEST(ReplaceTest, MultiLineValuesKeepNewlineTokens) {
  EXPECT_EQ(replaceStringValue("one\r\ntwo\r\nthree", "two", "2", false, true), "one$NEWLINE$2$NEWLINE$three");
  // The search text and replacement are converted the same way, so line breaks can be found.
  EXPECT_EQ(replaceStringValue("one\r\ntwo", "\r\n", " ", false, true), "one two");
  EXPECT_EQ(replaceStringValue("a b", " ", "\r\n", false, true), "a$NEWLINE$b");
}

TEST(ReplaceTest, MatchesNeverBreakALineBreakToken) {
  struct Case {
    const char* value;
    const char* what;
    bool ignoreCase;
    bool every;
    const char* expected;
  };
  const Case cases[] = {
      {"line one\r\nLine two", "line", true, true, "X one$NEWLINE$X two"},
      {"one\r\ntwo", "NEW", false, true, "one$NEWLINE$two"},
      {"one\r\ntwo", "e$NEW", false, true, "one$NEWLINE$two"},  // would begin outside, end inside
      {"one\r\nLINE", "LINE", false, false, "one$NEWLINE$X"},   // the first whole match counts
      {"one$NEWLINE$two", "one$NEWLINE$", false, true, "Xtwo"},   // covering a whole token is fine
      {"a\r\n\r\nb", "\r\n", false, true, "aXXb"},
      {"$NEWLINE$NEWLINE$", "NEWLINE", false, true, "$NEWLINE$X$"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(replaceStringValue(c.value, c.what, "X", c.ignoreCase, c.every), c.expected) << c.value << " / " << c.what;
}

TEST(ExtractPathTest, TakesEachPart) {
  struct Case {
    const char* path;
    int part;
    const char* expected;
  };
  const Case cases[] = {
      {"C:\\Folder\\Sub\\File.tar.gz", 0, "File.tar.gz"},
      {"C:\\Folder\\Sub\\File.tar.gz", 1, "File.tar"},
      {"C:\\Folder\\Sub\\File.tar.gz", 2, "gz"},
      {"C:\\Folder\\Sub\\File.tar.gz", 3, "C:\\Folder\\Sub\\"},
      {"C:\\Folder\\Sub\\File.tar.gz", 4, "C:\\Folder\\"},
      {"C:\\Folder\\Sub\\File.tar.gz", 5, "C:\\"},
      {"C:\\Folder\\README", 2, ""},
      {"C:\\Fol.der\\README", 2, ""},  // a dot of a folder is no extension
      {"C:\\Fol.der\\README", 1, "README"},
      {"C:\\File.txt", 4, "C:\\"},
      {"File.txt", 3, ""},
      {"File.txt", 4, ""},
      {"Folder\\File.txt", 5, ""},  // relative: no drive
      {"\\\\server\\share\\dir\\f.txt", 5, "\\\\server\\share\\"},
      {"\\\\server\\share\\dir\\f.txt", 4, "\\\\server\\share\\"},
      {"\\\\server\\share\\dir\\f.txt", 6, "\\server\\share\\dir\\f.txt"},
      {"C:\\a\\\\b", 6, "C:\\a\\b"},
      {"Ärger\\Übel.ä", 1, "Übel"},
      {"C:\\x\\y.z", 7, "C:\\x\\y.z"},
      {"C:\\x\\y.z", -1, "C:\\x\\y.z"},
  };
  for (const auto& c : cases) EXPECT_EQ(extractPathPart(c.path, c.part), c.expected) << c.path << " " << c.part;
}

TEST(ParseStringTest, SplitsByEachMethod) {
  struct Case {
    const char* source;
    const char* delimiter;
    int method;
    const char* before;
    const char* after;
  };
  const Case cases[] = {
      {"C:\\Folder\\File.txt", "\\", 0, "C:", "Folder\\File.txt"},
      {"C:\\Folder\\File.txt", "\\", 1, "C:\\Folder", "File.txt"},
      {"C:\\Folder\\File.txt", "2", 2, "C:", "\\Folder\\File.txt"},
      {"C:\\Folder\\File.txt", "3", 3, "C:\\Folder\\File.", "txt"},
      {"abc", ";", 0, "abc", ""},  // no delimiter: all before
      {"abc", ";", 1, "", "abc"},  // no delimiter: all after
      {"abc", "", 0, "abc", ""},   // an empty delimiter never occurs
      {"abc", "3", 3, "", ""},     // N equal to the length
      {"abc", "0", 2, "", "abc"},
      {"abc", "5", 2, "abc", ""},
      {"abc", "-1", 2, "", "abc"},
      {"abc", "5", 3, "", "abc"},
      {"abc", "-2", 3, "abc", ""},
      {"abc", "x", 2, "", ""},  // not an integer
      {"abc", "x", 3, "", ""},
      {"a;b", ";", 4, "", ""},  // unknown method
      {"a::b::c", "::", 0, "a", "b::c"},
      {"a::b::c", "::", 1, "a::b", "c"},
      {"äöü;ß", ";", 0, "äöü", "ß"},  // characters, not bytes
      {"äöüß", "2", 2, "äö", "üß"},
      {"äöüß", "1", 3, "äöü", "ß"},
      {"a\xff;b\xfe", ";", 0, "a\xff", "b\xfe"},  // malformed bytes come back unchanged
  };
  for (const auto& c : cases) {
    const ParsedParts parts = parseString(c.source, c.delimiter, c.method, false, false);
    EXPECT_EQ(parts.before, c.before) << c.source << " / " << c.delimiter << " / " << c.method;
    EXPECT_EQ(parts.after, c.after) << c.source << " / " << c.delimiter << " / " << c.method;
  }
}

TEST(ParseStringTest, IgnoresCaseOnlyForTheSearchAndTrims) {
  ParsedParts p = parseString("Key = Value", "KEY", 0, false, true);
  EXPECT_EQ(p.before, "");
  EXPECT_EQ(p.after, " = Value");
  p = parseString("ÄXäY", "ä", 1, false, true);
  EXPECT_EQ(p.before, "ÄX");
  EXPECT_EQ(p.after, "Y");
  p = parseString("ÄXäY", "ä", 0, false, true);
  EXPECT_EQ(p.before, "");  // the original letters come back, found at the first "Ä"
  EXPECT_EQ(p.after, "XäY");
  p = parseString(" name \t= value\r\n", "=", 0, true, false);
  EXPECT_EQ(p.before, "name");
  EXPECT_EQ(p.after, "value");
}

}  // namespace
}  // namespace orv
