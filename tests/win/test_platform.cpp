#include <gtest/gtest.h>

#include "bootstrap/trace.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "platform/system.h"

namespace orv {
namespace {

TEST(PlatformTest, StringsRoundTripThroughWideAndCodePages) {
  const std::string text = "Prodüct € 日本";
  EXPECT_EQ(narrow(widen(text)), text);
  EXPECT_EQ(toCodePage("Prodüct €", 1252), "Prod\xFC" "ct \x80");
  EXPECT_EQ(fromCodePage("Prod\xFC" "ct \x80", 1252), "Prodüct €");
}

TEST(TraceTest, WritesUtf16LinesAndTruncatesOnFirstUse) {
  const std::string folder = tempFolder() + "orv-trace-test\\";
  createFolders(folder);
  const std::string path = folder + "trace.log";
  writeWholeFile(path, "old content");
  Trace t;
  t.line("not written: no path yet");
  t.setPath(path);
  t.line("<Orvane>");
  t.line("  ä");
  std::string bytes;
  ASSERT_TRUE(readWholeFile(path, bytes));
  const std::wstring expected = L"<Orvane>\r\n  \u00e4\r\n";
  EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(expected.data()), expected.size() * 2));
  deleteTree(folder);
}

}  // namespace
}  // namespace orv
