// The component commands in real runs, and a selection that survives into maintenance: installed, then
// changed through the uninstall entry's modify command, then removed.
#include <gtest/gtest.h>

#include <windows.h>

#include "core/text.h"
#include "e2e/script_run.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "support/windows_test.h"

namespace orv::test {
namespace {

constexpr const char* kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const char* kIdentCache = "SOFTWARE\\Tessaly\\Orvane\\Ident.Cache\\";

std::vector<std::string> when(const char* variable, const std::string& value) { return {"If", variable, "0", value, "FALSE"}; }
// A state check: the mark is left when the component reads as `state`.
void expectState(ScriptLines& lines, const char* component, const char* state, int digit) {
  lines.push_back({"Get Component State", component, "R"});
  lines.push_back(when("R", state));
  lines.push_back(mark(digit));
  lines.push_back({"End"});
}

void expectSpace(ScriptLines& lines, const char* component, const char* bytes, int digit) {
  lines.push_back({"Get Component Space", component, "S"});
  lines.push_back(when("S", bytes));
  lines.push_back(mark(digit));
  lines.push_back({"End"});
}

struct ComponentCase {
  const char* name;
  ScriptLines body;
  uint32_t trail;
};

ComponentCase statesCase() {
  ScriptLines l = {{"Define Component", "Core", "TRUE", "The core"},
                          {"Define Component", "Extras", "false", ""},
                          {"Set Variable", "WHICH", "Extras"}};
  expectState(l, "core", "TRUE", 1);
  expectState(l, "$WHICH$", "FALSE", 2);
  l.push_back({"Set Component State", "Extras", "TRUE"});
  expectState(l, "Extras", "TRUE", 3);
  l.push_back({"Delete Component", "Extras"});
  expectState(l, "Extras", "FALSE", 4);
  l.push_back({"Define Component", "Extras", "FALSE", ""});  // undeletes, keeps its state
  expectState(l, "Extras", "TRUE", 5);
  l.push_back({"Set Component State", "Ghost", "TRUE"});
  expectState(l, "Ghost", "FALSE", 6);
  expectState(l, "ZORN-PREDEF-COMPONENT", "TRUE", 7);
  return {"states: defined, set, deleted, undeleted, unknown", l, 91234567};
}

ComponentCase sizesCase() {
  ScriptLines l = {{"Define Component", "Core", "TRUE", ""},
                          {"Define Component", "Extras", "FALSE", ""},
                          {"Set Variable", "BIG", "5000000000"},
                          {"Set Component Space", "Core", "1536000"},
                          {"Set Component Space", "Extras", "$BIG$"},
                          {"Set Component Space", "Core", "lots"},
                          {"Set Component Space", "Ghost", "10"}};
  expectSpace(l, "Core", "1536000", 1);
  expectSpace(l, "Extras", "5000000000", 2);
  expectSpace(l, "", "1536000", 3);  // only the selected ones
  l.push_back({"Set Component State", "Extras", "TRUE"});
  expectSpace(l, "", "5001536000", 4);
  l.push_back({"Delete Component", "Extras"});
  expectSpace(l, "", "1536000", 5);
  expectSpace(l, "Ghost", "0", 6);
  return {"sizes: set, ignored, summed", l, 9123456};
}

ComponentCase selectionFileCase() {
  ScriptLines l = {{"Define Component", "Core", "TRUE", ""},
                          {"Define Component", "Extras", "FALSE", ""},
                          {"Set Variable", "TARGETDIR", "C:\\Saved\\"},
                          {"Set Variable", "SERIAL$ZORN$ZORN$TRUE", "XY-1"},
                          {"Set Variable", "FILE", "$TEMPDIR$\\choices.dat"},
                          {"Save Feature Selections", "$FILE$"},
                          {"Set Component State", "Core", "FALSE"},
                          {"Set Component State", "Extras", "TRUE"},
                          {"Set Variable", "TARGETDIR", "C:\\Changed\\"},
                          {"Set Variable", "SERIAL", "changed"},
                          {"Define Component", "Later", "TRUE", ""},
                          {"Load Feature Selections", "$FILE$"}};
  expectState(l, "Core", "TRUE", 1);
  expectState(l, "Extras", "FALSE", 2);
  expectState(l, "Later", "TRUE", 3);  // not in the file: untouched
  l.push_back(when("TARGETDIR", "C:\\Saved\\"));
  l.push_back(mark(4));
  l.push_back({"End"});
  l.push_back(when("SERIAL", "XY-1"));
  l.push_back(mark(5));
  l.push_back({"End"});
  l.push_back({"Set Component State", "Core", "FALSE"});
  l.push_back({"Load Feature Selections", "$TEMPDIR$\\missing.dat"});
  expectState(l, "Core", "FALSE", 6);
  return {"a selection file saved and loaded back; a missing one changes nothing", l, 9123456};
}

TEST(ComponentCommandsRun, StatesSizesAndSelectionFiles) {
  for (const ComponentCase& c : {statesCase(), sizesCase(), selectionFileCase()}) {
    SCOPED_TRACE(c.name);
    const RunResult r = runLines(trailScript(c.body));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, c.trail);
  }
}

// ---- maintenance ----

std::string code(unsigned last) {
  char text[64];
  std::snprintf(text, sizeof text, "{%08lX-%04X-4000-8000-%012X}", GetCurrentProcessId(),
                unsigned(GetTickCount64() & 0xFFFF), last);
  return text;
}

class ComponentMaintenance : public ::testing::Test {
 protected:
  void SetUp() override {
    product = code(0xC1);
    revision = code(0xC2);
    title = "Component Run " + product;
  }
  void TearDown() override {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      for (const std::string& path :
           {std::string(kUninstall) + title, std::string(kUninstall) + product, std::string(kIdentCache) + product})
        RegistryKey::deleteTree(root, path, RegistryView::Bits32);
    RegistryKey::deleteTree(HKEY_CURRENT_USER, "Software\\OrvaneTest\\components", RegistryView::Bits32);
  }

  // First run: Extras is left out. Later runs (maintenance): the script's default for Extras is
  // "TRUE", yet the installed selection decides; Core deselected frees what it took.
  SetupImage image() const {
    ScriptLines body = {{"Set Variable", "NATIVE_ENGINE", "TRUE"},
                        {"Define Component", "Core", "TRUE", ""},
                        {"Define Component", "Extras", "TRUE", ""},
                        {"Set Component Space", "Core", "3000"},
                        {"Set Component Space", "Extras", "500"},
                        when("MAINTENANCE", "TRUE")};
    expectState(body, "Extras", "FALSE", 1);
    expectState(body, "Core", "TRUE", 2);
    body.push_back({"Set Component State", "Core", "FALSE"});
    expectSpace(body, "", "-3000", 3);
    body.push_back({"Set Component State", "Core", "TRUE"});
    body.push_back({"Else"});
    body.push_back({"Set Component State", "Extras", "FALSE"});
    body.push_back(mark(4));
    body.push_back({"End"});
    body.push_back(when("REMOVE", "TRUE"));
    body.push_back({"Apply Changes", "", "RESULT", "FALSE", "TRUE"});
    body.push_back({"Else"});
    // One real change, so the native engine keeps an undo log: what marks the product installed.
    body.push_back({"Write Registry", "0", "1", "Software\\OrvaneTest\\components", "Text", "installed", "TRUE", "FALSE"});
    body.push_back({"Apply Changes", "", "RESULT", "TRUE", "FALSE"});
    body.push_back({"End"});
    body.push_back(when("RESULT", "COMPLETE"));
    body.push_back(mark(5));
    body.push_back({"End"});
    SetupImage img = scriptImage(trailScript(body));
    img.productCode = product;
    img.revisionCode = revision;
    img.title = title;
    return img;
  }

  std::string product, revision, title;
};

TEST_F(ComponentMaintenance, AComponentLeftOutAtInstallStaysOutAndTheSpaceCountsOnlyChanges) {
  const SetupFolder setup = buildSetup(image());
  ASSERT_EQ(runSetup(setup, "/s").exitCode, 945u);

  const auto entry = RegistryKey::open(HKEY_LOCAL_MACHINE, std::string(kUninstall) + title);
  ASSERT_TRUE(entry);
  const std::string modify = entry->getString("ModifyPath").value_or("");
  const std::string uninstall = entry->getString("UninstallString").value_or("");
  ASSERT_FALSE(modify.empty());
  const std::string cacheFolder = folderOf(modify);
  EXPECT_EQ(runCommandIn("\"" + modify + "\" /s", cacheFolder), 91235u);
  EXPECT_EQ(runCommandIn(uninstall + " /s", cacheFolder), 91235u) << "the removal run sees the same selection";
  EXPECT_FALSE(RegistryKey::exists(HKEY_LOCAL_MACHINE, std::string(kUninstall) + title));
}

}  // namespace
}  // namespace orv::test
