#include <gtest/gtest.h>

#include "core/commandline.h"
#include "core/commatext.h"
#include "core/pe.h"
#include "core/text.h"

namespace orv {
namespace {

TEST(CommaTextTest, WritesAndReadsTheListEncoding) {
  struct Case {
    std::vector<std::string> items;
    const char* text;
  };
  const Case cases[] = {
      {{"a", "b"}, "a,b"},
      {{"with space", "x"}, "\"with space\",x"},
      {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
      {{"a,b"}, "\"a,b\""},
      {{""}, "\"\""},
      {{"a", "", "c"}, "a,,c"},
      {{"a", ""}, "a,"},
      {{}, ""},
      {{"tab\there"}, "\"tab\there\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(joinCommaText(c.items), c.text);
    EXPECT_EQ(splitCommaText(c.text), c.items) << c.text;
  }
}

TEST(CommaTextTest, ReaderSplitsUnquotedBlanksAndSkipsBlanks) {
  EXPECT_EQ(splitCommaText("a b"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(splitCommaText("  a ,  b  "), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(splitCommaText("\"unterminated"), (std::vector<std::string>{"unterminated"}));
  EXPECT_EQ(splitCommaText(","), (std::vector<std::string>{"", ""}));
}

TEST(CommaTextTest, NestedListsUnwrap) {
  const std::string inner = joinCommaText({"1", "Software\\X", "Value, with comma"});
  const std::string outer = joinCommaText({inner});
  EXPECT_EQ(unwrapCommaText(outer), (std::vector<std::string>{"1", "Software\\X", "Value, with comma"}));
  EXPECT_EQ(unwrapCommaText("single"), (std::vector<std::string>{"single"}));
}

TEST(TextTest, CaseRulesCoverNonAsciiLetters) {
  EXPECT_EQ(upper("straße äöü ÿ ω я"), "STRAßE ÄÖÜ Ÿ Ω Я");
  EXPECT_EQ(lower("ÄÖÜ Ω Я İ"), "äöü ω я i");
  EXPECT_TRUE(equalsNoCase("Ärger", "äRGER"));
  EXPECT_FALSE(equalsNoCase("abc", "abd"));
  EXPECT_EQ(findNoCase("Hello WORLD", "world"), 6u);
  EXPECT_EQ(charCount("äöü"), 3u);
  EXPECT_EQ(replaceAll("a$NEWLINE$b", "$newline$", "\n", true), "a\nb");
}

TEST(TextTest, TruthAndNumbers) {
  for (const char* t : {"true", "True", "TRUE", "-1"}) EXPECT_TRUE(isTrueText(t)) << t;
  for (const char* f : {"1", "yes", "", "FALSE", " true"}) EXPECT_FALSE(isTrueText(f)) << f;
  int64_t v;
  EXPECT_TRUE(parseInt64(" -42 ", v));
  EXPECT_EQ(v, -42);
  EXPECT_FALSE(parseInt64("12abc", v));
  EXPECT_FALSE(parseInt64("99999999999999999999", v));
  EXPECT_EQ(fileNameOf("C:\\a\\b.exe"), "b.exe");
  EXPECT_EQ(folderOf("C:\\a\\b.exe"), "C:\\a\\");
  EXPECT_EQ(withoutExtension("setup.v2.exe"), "setup.v2");
}

TEST(TextTest, MalformedUtf8DecodesAsReplacement) {
  const std::string bad = "a\xC3\x28\xF0\x9F";
  const std::u32string u = toUtf32(bad);
  EXPECT_EQ(u, (std::u32string{U'a', 0xFFFD, U'(', 0xFFFD, 0xFFFD}));
}

TEST(CommandLineTest, RawCommandLineDropsTheProgram) {
  EXPECT_EQ(rawCommandLine("\"C:\\Setup Dir\\setup.exe\" /s X=1"), "/s X=1");
  EXPECT_EQ(rawCommandLine("setup.exe /s"), "/s");
  EXPECT_EQ(rawCommandLine("setup.exe"), "");
  EXPECT_EQ(rawCommandLine("\"setup.exe\""), "");
}

TEST(CommandLineTest, SwitchesAndAssignments) {
  struct Case {
    std::vector<std::string> args;
    bool silent, noSplash;
    const char* log;
  };
  const Case cases[] = {
      {{"/s"}, true, false, ""},
      {{"-QN"}, true, false, ""},
      {{"/S"}, true, false, ""},
      {{"/silent"}, false, false, ""},
      {{"/UPDATE"}, false, true, ""},
      {{"-updatesetup"}, false, true, ""},
      {{"/L=C:\\Logs\\A.LOG"}, false, false, "c:\\logs\\a.log"},
      {{"-l=x.log"}, false, false, "x.log"},
      {{"x/l=y"}, false, false, "=y"},
  };
  for (const auto& c : cases) {
    const CommandLine cl = parseCommandLine(c.args);
    EXPECT_EQ(cl.silent, c.silent) << c.args[0];
    EXPECT_EQ(cl.noSplash, c.noSplash) << c.args[0];
    EXPECT_EQ(cl.logPath, c.log) << c.args[0];
  }
  const CommandLine cl = parseCommandLine({"x=1=2", "/A=B", "-c=d", "A=", "=B", "Target=D:\\App", "x/l=y", "/p=C:\\Cache",
                                           "/g=\\\\srv\\share\\setup.exe", "/m=C:\\Dl\\Pkg.EXE"});
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"X", "1=2"}, {"A", ""}, {"", "B"}, {"TARGET", "D:\\App"}, {"X/L", "y"}};
  EXPECT_EQ(cl.assignments, expected);
  EXPECT_EQ(cl.cacheOverride, "c:\\cache");
  EXPECT_EQ(cl.policyPath, "\\\\srv\\share\\setup.exe");
  EXPECT_EQ(cl.selfExtractorPath, "c:\\dl\\pkg.exe");
}

TEST(PeTest, ImageEndComesFromTheSectionTable) {
  // A minimal PE32+ header: two sections, the second ending furthest.
  std::string h(1024, '\0');
  h[0] = 'M';
  h[1] = 'Z';
  h[0x3C] = static_cast<char>(0x80);
  h.replace(0x80, 4, std::string("PE\0\0", 4));
  h[0x80 + 6] = 2;            // sections
  h[0x80 + 20] = char(0xF0);  // optional header size 240
  auto section = [&](int i, uint32_t rawSize, uint32_t rawOffset) {
    const size_t s = 0x80 + 24 + 240 + i * 40;
    for (int b = 0; b < 4; ++b) {
      h[s + 16 + b] = static_cast<char>(rawSize >> (8 * b));
      h[s + 20 + b] = static_cast<char>(rawOffset >> (8 * b));
    }
  };
  section(0, 0x2000, 0x5000);
  section(1, 0x1000, 0x400);
  EXPECT_EQ(peImageEnd(h), 0x7000u);
  EXPECT_FALSE(peImageEnd(h.substr(0, 0x90)).has_value());  // truncated headers
  h[0] = 'X';
  EXPECT_FALSE(peImageEnd(h).has_value());
}

}  // namespace
}  // namespace orv
