// The default wizard pages that orvmake builds into setups (tools/orvmake/pages), in a real setup driven
// like a user: the license page's own rules hold Next back until the terms are accepted and keep the
// answer when the user comes back, and the destination page writes what the user types into TARGETDIR.
#include <gtest/gtest.h>
#include <windows.h>

#include "core/text.h"
#include "platform/files.h"
#include "ui/ui_driver.h"

namespace orv::test {
namespace {

// A default page's source file, found from this file's place in the source tree.
std::string defaultPageSource(const std::string& fileName) {
  const std::string here = __FILE__;  // .../tests/ui/test_default_pages.cpp
  const std::string sourceRoot = here.substr(0, here.rfind("/tests/"));
  std::string text;
  EXPECT_TRUE(readWholeFile(hostPath(sourceRoot + "/tools/orvmake/pages/" + fileName), text)) << fileName;
  return text;
}

std::vector<std::string> modalPage(const std::string& name) {
  return {"Display Dialog", name, "WIZARD", "TRUE", "", "TRUE", "FALSE"};
}
ScriptLines markIf(const std::string& variable, const std::string& value, int digit) {
  return {{"If", variable, "0", value, "FALSE"}, mark(digit), {"End"}};
}

// The driver's typeText passes backslashes doubled, so a path goes in pieces with the key between them.
void typePath(const std::string& path) {
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('\\', start);
    if (const std::string piece = path.substr(start, slash - start); !piece.empty()) typeText(piece);
    if (slash == std::string::npos) return;
    pressKeys("backslash");
    start = slash + 1;
  }
}

constexpr char kAccept[] = "I &accept the terms of the license agreement";
constexpr char kBrowse[] = "B&rowse...";

TEST(DefaultPages, LicenseAndDestinationWalkedLikeAUser) {
  const std::string designed = "C:\\Program Files\\Lumen", typed = "C:\\Apps\\Lumen Two";
  PageFiles files;
  files.designs["license"] = defaultPageSource("license.txt");
  files.others["license.dfm.orvf"] = defaultPageSource("license.rules");
  files.designs["destination"] = defaultPageSource("destination.txt");
  files.others["license.txt"] = "Terms of the Lumen test product.\r\n";
  ScriptLines lines = {{"Set Variable", "TRAIL", "9"},       {"Set Variable", "WIZARD", "NEXT"},
                       {"Set Variable", "TITLE", "Lumen"},   {"Set Variable", "TARGETDIR", designed},
                       {"Wizard Loop"},                      modalPage("license"),
                       modalPage("destination"),             {"End"}};
  for (const ScriptLines& check : {markIf("LICENSE", "TRUE", 1), markIf("TARGETDIR", typed, 2), markIf("WIZARD", "NEXT", 3)})
    lines.insert(lines.end(), check.begin(), check.end());
  lines.push_back({"Terminate with Exit Code", "$TRAIL$"});
  RunningSetup setup(buildPageSetup(lines, files));

  HWND license = waitForWindowWithText(setup, kAccept, 15000);
  ASSERT_TRUE(license);
  EXPECT_EQ(textOf(license), "Lumen Setup");
  EXPECT_NE(textOf(childOfClass(license, L"Edit", 0)).find("Terms of the Lumen test product."), std::string::npos);
  HWND next = childWithText(license, "&Next >");
  EXPECT_FALSE(IsWindowEnabled(next));  // the page's rules: nothing accepted yet
  click(childWithText(license, kAccept));
  EXPECT_TRUE(eventually([&] { return IsWindowEnabled(next) != FALSE; }));
  screenshot("default-license");
  click(next);

  HWND destination = waitForWindowWithText(setup, kBrowse);
  ASSERT_TRUE(destination);
  // Back shows the license again with the answer kept, so Next is open at once.
  click(childWithText(destination, "< &Back"));
  ASSERT_TRUE(eventually([&] { return IsWindowVisible(license) && !IsWindowVisible(destination); }));
  EXPECT_TRUE(eventually([&] { return IsWindowEnabled(next) != FALSE; }));
  click(next);
  ASSERT_TRUE(eventually([&] { return IsWindowVisible(destination) != FALSE; }));

  HWND target = childOfClass(destination, L"Edit", 0);
  EXPECT_TRUE(eventually([&] { return textOf(target) == designed; })) << textOf(target);
  click(target);
  pressKeys("End shift+Home");
  typePath(typed);
  EXPECT_TRUE(eventually([&] { return textOf(target) == typed; })) << textOf(target);
  screenshot("default-destination");
  click(childWithText(destination, "&Next >"));
  EXPECT_EQ(setup.wait(), 9123u);
}

COLORREF screenPixel(HWND window, POINT clientPoint) {
  ClientToScreen(window, &clientPoint);
  HDC screen = GetDC(nullptr);
  const COLORREF color = GetPixel(screen, clientPoint.x, clientPoint.y);
  ReleaseDC(nullptr, screen);
  return color;
}

// The components page frames its description in a group box, which shows the page's background inside.
TEST(DefaultPages, ComponentsDescriptionGroupShowsThePageInside) {
  PageFiles files;
  files.designs["components"] = defaultPageSource("components.txt");
  ScriptLines lines = {{"Set Variable", "WIZARD", "NEXT"}, {"Set Variable", "TITLE", "Lumen"}, modalPage("components"),
                       {"Terminate with Exit Code", "7"}};
  RunningSetup setup(buildPageSetup(lines, files));
  HWND components = waitForPage(setup, "Lumen Setup");
  ASSERT_TRUE(components);
  Sleep(300);  // painted
  screenshot("default-components");
  // Inside the frame, left of the description text, against a bare spot of the page.
  const COLORREF inside = screenPixel(components, POINT{293, 200});
  const COLORREF page = screenPixel(components, POINT{12, 200});
  EXPECT_NE(page, CLR_INVALID);
  EXPECT_EQ(inside, page);
  click(childWithText(components, "&Next >"));
  EXPECT_EQ(setup.wait(), 7u);
}

}  // namespace
}  // namespace orv::test
