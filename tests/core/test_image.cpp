#include <gtest/gtest.h>

#include "core/image.h"

namespace orv {
namespace {

SetupImage sampleImage() {
  SetupImage img;
  img.commands = {"Set Variable", "If", "End", "Display Dialog"};
  img.lineIds = {"{00000000-0000-0000-0000-000000000001}", "{00000000-0000-0000-0000-000000000002}",
                 "{00000000-0000-0000-0000-000000000003}", "{00000000-0000-0000-0000-000000000004}"};
  img.parameters = {img.lineIds[0], "X", "$", "FALSE", img.lineIds[1], "$X$", "0", "$WILD_DOLLAR$-like",
                    img.lineIds[3], ""};
  img.disabled = {"", "", "", "C"};
  img.productCode = "{11111111-2222-3333-4444-555555555555}";
  img.title = "Démo Prodüct";
  img.publisher = "Maker";
  img.version = "1.0";
  img.mediaPasswords = {"OFFLINE", "scrambled"};
  img.mediaFolders = {"", "", "", "OFFLINE\\"};
  img.cachingMode = 2;
  img.componentSizes = {"ZORN-PREDEF-COMPONENT", "0", "MAIN", "5000000000"};
  img.revisionCode = "{AAAAAAAA-2222-3333-4444-555555555555}";
  img.mediaFiles = {"OFFLINE", "app.exe", "OFFLINE\\"};
  img.languageDialog = "FALSE";
  img.defaultLanguage = "English";
  img.commandHeaders = {"0A1B2C3D", "3"};
  img.compilerVariables = {"TITLE", "Démo", "SINGLEINSTANCE", "TRUE"};
  img.codePage = 1252;
  img.sourcePositions = {"C:\\proj\\a.orv*0", "C:\\proj\\a.orv*1", "C:\\proj\\a.orv*2", "C:\\proj\\a.orv*3"};
  img.totalWeight = 123456789012;
  img.headerFiles = {"0A1B2C3D", "NEWHEADER", "OFFLINE\\app.exe", "", "OFFLINE\\lib.dll", "bin",
                     "FFFFFFFF", "NEWHEADER", "OFFLINE\\other.txt", ""};
  return img;
}

void expectSameImage(const SetupImage& a, const SetupImage& b) {
  EXPECT_EQ(a.commands, b.commands);
  EXPECT_EQ(a.lineIds, b.lineIds);
  EXPECT_EQ(a.parameters, b.parameters);
  EXPECT_EQ(a.disabled, b.disabled);
  EXPECT_EQ(a.title, b.title);
  EXPECT_EQ(a.pluginCommands, b.pluginCommands);
  EXPECT_EQ(a.mediaPasswords, b.mediaPasswords);
  EXPECT_EQ(a.cachingMode, b.cachingMode);
  EXPECT_EQ(a.componentSizes, b.componentSizes);
  EXPECT_EQ(a.revisionCode, b.revisionCode);
  EXPECT_EQ(a.compilerVariables, b.compilerVariables);
  EXPECT_EQ(a.codePage, b.codePage);
  EXPECT_EQ(a.sourcePositions, b.sourcePositions);
  EXPECT_EQ(a.totalWeight, b.totalWeight);
  EXPECT_EQ(a.headerFiles, b.headerFiles);
}

TEST(ImageTest, RoundTripsThroughTheCodePage) {
  const SetupImage img = sampleImage();
  const std::string bytes = writeImage(img);
  EXPECT_NE(bytes.find("D\xE9mo Prod\xFC" "ct\r\n"), std::string::npos);  // stored as Windows-1252
  EXPECT_NE(bytes.find("\r\n$DOLLAR$\r\n"), std::string::npos);
  expectSameImage(readImage(bytes), img);
}

TEST(ImageTest, EmptySectionsKeepTheirBoundaries) {
  SetupImage img;
  img.title = "T";
  const std::string bytes = writeImage(img);
  // An empty plug-in list puts its "$" right behind the title; an empty password list right behind the
  // version.
  EXPECT_NE(bytes.find("\r\nT\r\n$\r\n"), std::string::npos);
  const SetupImage back = readImage(bytes);
  EXPECT_EQ(back.title, "T");
  EXPECT_TRUE(back.commands.empty());
  EXPECT_EQ(back.totalWeight, 0);
}

TEST(ImageTest, DollarWordsBecomeDollarOnlyAsWholeParameters) {
  SetupImage img = sampleImage();
  std::string bytes = writeImage(img);
  const std::string from = "$DOLLAR$";
  bytes.replace(bytes.find(from), from.size(), "$dollar$");
  const SetupImage back = readImage(bytes);
  const ImageIndex index(back);
  EXPECT_EQ(index.parameterOfLine(0, 2), "$");
  EXPECT_EQ(index.parameterOfLine(1, 3), "$WILD_DOLLAR$-like");
}

TEST(ImageTest, KeyedLookups) {
  const SetupImage img = sampleImage();
  const ImageIndex index(img);
  EXPECT_EQ(index.parameterOfLine(0, 0), img.lineIds[0]);
  EXPECT_EQ(index.parameterOfLine(0, 1), "X");
  EXPECT_EQ(index.parameterOfLine(2, 1), "");  // a line without parameters
  EXPECT_EQ(index.parameterOfLine(3, 1), "");  // a single empty parameter
  EXPECT_EQ(index.parameterOfLine(3, 9), "");  // beyond the table
  EXPECT_TRUE(index.isDisabled(3));
  EXPECT_FALSE(index.isDisabled(0));
  EXPECT_EQ(index.lineOfId(img.lineIds[2]), 2);
  EXPECT_EQ(index.lineOfId("{nope}"), -1);
  EXPECT_EQ(index.headerOfLine(3), "0A1B2C3D");
  EXPECT_EQ(index.headerOfLine(0), "");
  const auto files = index.headerFiles("0a1b2c3d");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[1].first, "OFFLINE\\lib.dll");
  EXPECT_EQ(files[1].second, "bin");
  EXPECT_EQ(index.headerFiles("FFFFFFFF").size(), 1u);
  EXPECT_EQ(index.mediaPassword("offline"), "scrambled");
  EXPECT_EQ(index.compilerConstants().front().first, "TITLE");
}

TEST(ImageTest, WhatFollowsTheLastSectionIsIgnored) {
  const std::string bytes = writeImage(sampleImage()) + std::string("\x30\x82\x05\x00 signature\0\0", 16);
  EXPECT_EQ(readImage(bytes).headerFiles.size(), 10u);
}

TEST(ImageTest, TruncatedOrDamagedImagesAreReported) {
  const std::string bytes = writeImage(sampleImage());
  // Every cut short of the final "$" is an error, never a hang or a crash.
  for (size_t cut = 0; cut + 3 < bytes.size(); cut += 7) {
    EXPECT_THROW(readImage(bytes.substr(0, cut)), ImageError) << cut;
  }
  std::string bad = bytes;
  bad.replace(bad.find("\r\n2\r\n"), 5, "\r\nx\r\n");  // the caching mode is not a number
  EXPECT_THROW(readImage(bad), ImageError);
}

TEST(ImageTest, WriterRefusesTextsTheFormatCannotCarry) {
  SetupImage img = sampleImage();
  img.commands[0] = "$";
  EXPECT_THROW(writeImage(img), ImageError);
  img = sampleImage();
  img.title = "two\r\nlines";
  EXPECT_THROW(writeImage(img), ImageError);
}

TEST(ImageTest, UnixLineEndsAreRead) {
  std::string bytes = writeImage(sampleImage());
  std::string lf;
  for (char c : bytes)
    if (c != '\r') lf += c;
  EXPECT_EQ(readImage(lf).commands.size(), 4u);
}

}  // namespace
}  // namespace orv
