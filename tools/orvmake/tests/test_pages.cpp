// The authoring compiler's wizard pages: page texts become the binary designs the runtime reads, the
// default set keeps the runtime's roles, malformed pages and projects fail with their file and line and
// leave nothing behind, and a built setup's resource archive holds exactly the compiled pages.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/design/design.h"
#include "core/text.h"
#include "orvmake/pages.h"
#include "orvmake/project.h"
#include "orvmake/tests/test_folder.h"

namespace orv::make {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
constexpr unsigned kCp1252 = 1252;

const SupportFile& fileNamed(const std::vector<SupportFile>& files, const std::string& name) {
  for (const SupportFile& f : files)
    if (f.name == name) return f;
  throw std::runtime_error("no file " + name);
}

// Every property and child of an object, for finding controls by name.
const design::Object* findObject(const design::Object& o, std::string_view name) {
  if (equalsNoCase(o.name, name)) return &o;
  for (const design::Object& child : o.children)
    if (const design::Object* found = findObject(child, name)) return found;
  return nullptr;
}

int64_t tagOf(const design::Object& o) {
  const design::Property* p = o.property("Tag");
  return p ? p->value.integer : 0;
}

TEST(DefaultPages, CompileToDesignsTheReaderGivesBackUnchanged) {
  const std::vector<std::string> expected = {"components", "destination", "finish", "license",
                                             "maintenance", "progress", "ready", "welcome"};
  std::vector<std::string> names;
  for (const DefaultPage& page : defaultPages()) names.emplace_back(page.name);
  EXPECT_EQ(names, expected);
  for (const DefaultPage& page : defaultPages()) {
    SCOPED_TRACE(std::string(page.name));
    const std::vector<SupportFile> files = compilePage(PageEntry{std::string(page.name), "", "", {"p.orvp", 1}}, kCp1252);
    ASSERT_EQ(files.size(), 2u);
    const std::string& binary = fileNamed(files, std::string(page.name) + ".dfm").bytes;
    // The resource header the runtime expects: RCDATA named after the form class, then the stream.
    ASSERT_GT(binary.size(), 16u);
    EXPECT_EQ(uint8_t(binary[0]), 0xFF);
    EXPECT_EQ(binary.substr(1, 2), std::string("\x0A\x00", 2));
    EXPECT_EQ(binary.substr(3, 6), "TFORM\0"s);
    EXPECT_NE(binary.find("TPF0"), std::string::npos);
    const design::Document read = design::readBinary(binary, kCp1252);
    ASSERT_TRUE(read.header);
    EXPECT_EQ(design::writeText(read.root), design::writeText(design::readText(page.design, kCp1252)));
    EXPECT_EQ(design::writeBinary(read, kCp1252), binary);
  }
}

TEST(DefaultPages, CarryTheRolesTheRuntimeActsOn) {
  struct Role {
    const char* page;
    const char* control;
    int64_t tag;
    const char* hint;
  } roles[] = {
      {"welcome", "NextButton", 1, ""},      {"welcome", "CancelButton", 3, ""},
      {"license", "BackButton", 2, ""},      {"license", "LicenseMemo", 2, ""},
      {"license", "AcceptRadio", 0, "LICENSE"}, {"destination", "TargetEdit", 2, "TARGETDIR"},
      {"destination", "BrowseButton", 4, ""}, {"destination", "SpaceText", 5, ""},
      {"components", "ComponentList", 1, ""}, {"progress", "StatusText", 1, ""},
      {"progress", "ProgressBar", 1, ""},     {"progress", "CancelButton", 3, ""},
      {"finish", "NextButton", 1, ""},        {"maintenance", "ModifyRadio", 0, "MODIFY"},
      {"maintenance", "RepairRadio", 0, "REPAIR"}, {"maintenance", "RemoveRadio", 0, "REMOVE"},
  };
  for (const Role& role : roles) {
    SCOPED_TRACE(std::string(role.page) + "." + role.control);
    const DefaultPage* page = findDefaultPage(role.page);
    ASSERT_TRUE(page);
    const design::Object root = design::readText(page->design, kCp1252);
    const design::Object* control = findObject(root, role.control);
    ASSERT_TRUE(control);
    EXPECT_EQ(tagOf(*control), role.tag);
    const design::Property* hint = control->property("Hint");
    EXPECT_EQ(hint ? hint->value.text : "", role.hint);
  }
  // The license page's Next waits for the acceptance: its rules name the page's own controls.
  EXPECT_NE(std::string(findDefaultPage("license")->rules).find("NextButton.Enabled := True;"), std::string::npos);
  EXPECT_EQ(compilePage(PageEntry{"license", "", "", {}}, kCp1252)[1].bytes,
            "IF (AcceptRadio.Checked = True)  THEN  NextButton.Enabled := True;\r\n"
            "IF (AcceptRadio.Checked = False)  THEN  NextButton.Enabled := False;\r\n");
}

constexpr char kSmallPage[] =
    "object Small: TForm\n"
    "  Caption = 'Small'\n"
    "  object Next: TButton\n"
    "    Caption = '&Next >'\n"
    "    Tag = 1\n"
    "  end\n"
    "  object Box: TRzCheckBox\n"
    "    Hint = 'AGREED'\n"
    "  end\n"
    "end\n";

TEST(PageErrors, NameTheFileAndTheLine) {
  struct Case {
    const char* what;
    std::string design;
    std::string rules;
    std::string message;  // the whole error text
  } cases[] = {
      {"text the reader refuses", "object Small: TForm\n  Caption = 'open\nend\n", "", "small.txt:2: "},
      {"an object that never ends", "object Small: TForm\n  object A: TButton\n  end\n", "", "small.txt:"},
      {"a class the runtime lacks", replaceAll(kSmallPage, "TRzCheckBox", "TCheckBox", false), "",
       "small.txt:7: the page runtime has no control class \"TCheckBox\""},
      {"a name used twice", replaceAll(kSmallPage, "Box: TRzCheckBox", "next: TRzCheckBox", false), "",
       "small.txt:7: the name \"next\" is already used at line 3"},
      {"a rule without its THEN", kSmallPage, "\nIF (Box.Checked = True) THEN Next.Enabled := True;\n",
       "small.rules:2: a rule reads IF (Control.Property = Value)  THEN  Control.Property := Value;"},
      {"a rule naming a missing control", kSmallPage, "IF (Box.Checked = True)  THEN  NextButton.Enabled := True;\n",
       "small.rules:1: the rule names \"NextButton\", which the page does not have"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      compilePageText("small", c.design, "small.txt", c.rules, "small.rules", kCp1252);
      ADD_FAILURE() << "accepted";
    } catch (const ProjectError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, c.message.size()), c.message) << e.what();
    }
  }
  // The designer's own component is no control and may be of any class.
  EXPECT_NO_THROW(compilePageText("small", replaceAll(kSmallPage, "Box: TRzCheckBox", "cmpFormDesigner: TRFDesigner", false),
                                  "small.txt", "", "", kCp1252));
}

// ---- the tool on whole projects ----

class ProjectBuild : public TestFolder {
 protected:
  ProjectBuild() : TestFolder("test") {}
  void SetUp() override {
    TestFolder::SetUp();
    fs::create_directories(root_ / "out");
    fs::create_directories(root_ / "res");
    write("stub.exe", "MZ engine stand-in");
    write("res/readme.txt", "support\r\n");
    write("pages/small.txt", kSmallPage);
    write("pages/small.rules", "IF (Box.Checked = False)  THEN  Next.Enabled := False;\n");
  }

  // Runs orvmake on the project; its exit code, with its error output in `errors_`.
  int make(const std::string& project) {
    write("project.orvp", project);
    const std::string command = std::string(ORVMAKE_EXE) + " " + (root_ / "project.orvp").string() + " --stub " +
                                (root_ / "stub.exe").string() + " --out " + (root_ / "out").string() + " >/dev/null 2>" +
                                (root_ / "errors.txt").string();
    const int status = std::system(command.c_str());
    errors_ = readAll(root_ / "errors.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::vector<std::string> outputFiles() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_ / "out")) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // The names in the archive and one file's bytes, through the system 7zz.
  std::string archiveListing() {
    const std::string command = "7zz l -ba -slt " + (root_ / "out/setup.res").string() + " | sed -n 's/^Path = //p' | sort > " +
                                (root_ / "listing.txt").string();
    EXPECT_EQ(std::system(command.c_str()), 0);
    return readAll(root_ / "listing.txt");
  }
  std::string archiveFile(const std::string& name) {
    const std::string command = "7zz e -so " + (root_ / "out/setup.res").string() + " " + name + " > " + (root_ / "x.bin").string() +
                                " 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return readAll(root_ / "x.bin");
  }

  std::string errors_;
};

constexpr char kProjectHead[] =
    "title = Paged\n"
    "resources = res\n"
    "page welcome\n"
    "page small = pages/small.txt | pages/small.rules\n";

TEST_F(ProjectBuild, PutsCompiledPagesAndSupportFilesIntoTheArchive) {
  ASSERT_EQ(make(std::string(kProjectHead) + "Wizard Loop\nDisplay Dialog: welcome | WIZARD | TRUE | | TRUE | FALSE\n"
                                             "Display Dialog: small | WIZARD | TRUE | | TRUE | FALSE\nEnd\n"),
            0)
      << errors_;
  EXPECT_EQ(outputFiles(), (std::vector<std::string>{"setup.exe", "setup.res"}));
  EXPECT_EQ(archiveListing(), "readme.txt\nsmall.dfm\nsmall.dfm.orvf\nwelcome.dfm\nwelcome.dfm.orvf\n");
  const std::string small = archiveFile("small.dfm");
  EXPECT_EQ(design::writeText(design::readBinary(small, kCp1252).root), design::writeText(design::readText(kSmallPage, kCp1252)));
  EXPECT_EQ(archiveFile("small.dfm.orvf"), "IF (Box.Checked = False)  THEN  Next.Enabled := False;\r\n");
  EXPECT_EQ(archiveFile("welcome.dfm"), compilePage(PageEntry{"welcome", "", "", {}}, kCp1252)[0].bytes);
  EXPECT_EQ(readAll(root_ / "out/setup.exe").substr(0, 18), "MZ engine stand-in");
}

TEST_F(ProjectBuild, RefusesMalformedInputAndWritesNothing) {
  write("pages/broken.txt", "object Broken: TForm\n  object A: TButton\n    Tag = 'one\n  end\nend\n");
  write("res/small.dfm", "an old page");
  struct Case {
    const char* what;
    std::string project;
    std::string message;
  } cases[] = {
      {"a page the design reader refuses", std::string(kProjectHead) + "page broken = pages/broken.txt\n",
       (root_ / "pages/broken.txt").string() + ":3: "},
      {"a missing page file", std::string(kProjectHead) + "page lost = pages/lost.txt\n",
       (root_ / "project.orvp").string() + ":5: cannot read the page file"},
      {"no default page of that name", std::string(kProjectHead) + "page extra\n",
       (root_ / "project.orvp").string() + ":5: there is no default page \"extra\""},
      {"a page name that is a path", std::string(kProjectHead) + "page ../escape = pages/small.txt\n",
       (root_ / "project.orvp").string() + ":5: a page needs a plain name"},
      {"a page named twice", std::string(kProjectHead) + "page Welcome\n",
       (root_ / "project.orvp").string() + ":5: the page \"Welcome\" is already named at line 3"},
      {"a dialog line without its page", "title = Paged\nresources = res\nWizard Loop\nDisplay Dialog: license | WIZARD | TRUE | | TRUE | FALSE\nEnd\n",
       (root_ / "project.orvp").string() + ":4: the dialog \"license\" has no page"},
      {"a page that would replace a support file", std::string(kProjectHead), "a support file has the name of a compiled page's file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (std::string(c.what).find("support file") == std::string::npos) fs::remove(root_ / "res/small.dfm");
    else write("res/small.dfm", "an old page");
    EXPECT_EQ(make(c.project), 1);
    EXPECT_NE(errors_.find(c.message), std::string::npos) << errors_;
    EXPECT_EQ(errors_.find('\n'), errors_.size() - 1) << "one line: " << errors_;
    EXPECT_TRUE(outputFiles().empty());
  }
}

TEST_F(ProjectBuild, AFailedBuildLeavesTheLastGoodSetupAsItWas) {
  ASSERT_EQ(make(std::string(kProjectHead)), 0) << errors_;
  const std::string exe = readAll(root_ / "out/setup.exe"), res = readAll(root_ / "out/setup.res");
  write("pages/small.txt", "object Small: TForm\n  Caption = 'x'\n  object\nend\n");
  EXPECT_EQ(make(std::string(kProjectHead)), 1);
  EXPECT_EQ(outputFiles(), (std::vector<std::string>{"setup.exe", "setup.res"}));
  EXPECT_EQ(readAll(root_ / "out/setup.exe"), exe);
  EXPECT_EQ(readAll(root_ / "out/setup.res"), res);
}

}  // namespace
}  // namespace orv::make
