// Media blocks of a project: the image's media tables point each "Install Files" line at its block's
// files, the archive beside the setup holds the block under one top folder of its name, and a line or
// block that cannot work is refused with its file and line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "orvmake/media.h"
#include "orvmake/project.h"
#include "orvmake/tests/test_folder.h"

namespace orv::make {
namespace {

namespace fs = std::filesystem;

class MediaProject : public TestFolder {
 protected:
  MediaProject() : TestFolder("media") {}
  void SetUp() override {
    TestFolder::SetUp();
    write("files/readme.txt", "read me");
    write("files/bin/app.dll", "0123456789");
    write("files/bin/tools/helper.exe", "helper");
    write("files/bin/notes.txt", "notes");
  }
  Project planned(const std::string& text) {
    write("project.orvp", "title = Media\nmedia DEMO = files\n" + text);
    Project project = readProject((root_ / "project.orvp").string());
    planMedia(project);
    return project;
  }
};

constexpr char kFlags[] = " | FALSE | FALSE | FALSE | TRUE | | FALSE | FALSE | FALSE | FALSE\n";

TEST_F(MediaProject, InstallLinesTakeTheirFilesFromTheBlock) {
  const Project p = planned(std::string("Set Variable: X | 1\n") + "Install Files: DEMO | | $TARGETDIR$" + kFlags +
                            "Install Files: demo\\bin | *.DLL | $TARGETDIR$\\bin" + kFlags);
  const SetupImage& image = p.image;
  EXPECT_EQ(image.cachingMode, 2);
  EXPECT_EQ(image.mediaFolders, (std::vector<std::string>{"", "DEMO\\", "DEMO\\"}));
  EXPECT_EQ(image.commandHeaders, (std::vector<std::string>{"A0000001", "1", "A0000002", "2"}));
  // Subfolders below the line's folder are kept; the mask picks by file name, without case.
  EXPECT_EQ(image.headerFiles, (std::vector<std::string>{
                                   "A0000001", "NEWHEADER",                                        //
                                   "DEMO\\bin\\app.dll", "bin\\", "DEMO\\bin\\notes.txt", "bin\\",  //
                                   "DEMO\\bin\\tools\\helper.exe", "bin\\tools\\", "DEMO\\readme.txt", "",
                                   "A0000002", "NEWHEADER", "DEMO\\bin\\app.dll", ""}));
  EXPECT_EQ(image.mediaFiles, (std::vector<std::string>{"DEMO", "bin\\app.dll", "DEMO\\bin\\",                  //
                                                        "DEMO", "bin\\notes.txt", "DEMO\\bin\\",                //
                                                        "DEMO", "bin\\tools\\helper.exe", "DEMO\\bin\\tools\\",  //
                                                        "DEMO", "readme.txt", "DEMO\\"}));
  EXPECT_EQ(image.totalWeight, 7 + 10 + 6 + 5 + 10);
}

TEST_F(MediaProject, RefusesLinesAndBlocksThatCannotWork) {
  write("empty/.keep", "");
  fs::remove(root_ / "empty/.keep");
  struct Case {
    const char* what;
    std::string text;
    std::string message;
  } cases[] = {
      {"an unknown block", std::string("Install Files: OTHER | | $TARGETDIR$") + kFlags, ":3: \"OTHER\" is not a media block"},
      {"a folder outside the block", std::string("Install Files: DEMO\\..\\x | | $TARGETDIR$") + kFlags, ":3: \"DEMO\\..\\x\" leaves its media block"},
      {"no matching file", std::string("Install Files: DEMO\\bin | *.ocx | $TARGETDIR$") + kFlags, ":3: \"DEMO\\bin\" holds no file that matches"},
      {"a block named twice", "media demo = files\n", ":3: the media block demo is already named at line 2"},
      {"a block name that is a path", "media ../x = files\n", ":3: a media block needs a plain name"},
      {"a missing folder", "media LOST = lost\n", "lost: the media folder does not exist"},
      {"an empty folder", "media EMPTY = empty\n", "empty: the media folder holds no files"},
      {"another caching mode", "caching = 1\n", ":2: media blocks need caching = 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      planned(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const ProjectError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

TEST_F(MediaProject, TheBuiltArchiveHoldsTheBlockUnderItsName) {
  write("stub.exe", "MZ engine stand-in");
  write("project.orvp", std::string("title = Media\nmedia DEMO = files\nInstall Files: DEMO | | $TARGETDIR$") + kFlags);
  fs::create_directories(root_ / "out");
  const std::string make = std::string(ORVMAKE_EXE) + " " + (root_ / "project.orvp").string() + " --stub " +
                           (root_ / "stub.exe").string() + " --out " + (root_ / "out").string() + " >/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0);
  const std::string list = "7zz l -ba -slt " + (root_ / "out/DEMO.7zip").string() + " | sed -n 's/^Path = //p' | sort > " +
                           (root_ / "listing.txt").string();
  ASSERT_EQ(std::system(list.c_str()), 0);
  std::ifstream in(root_ / "listing.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            "DEMO\nDEMO/bin\nDEMO/bin/app.dll\nDEMO/bin/notes.txt\nDEMO/bin/tools\nDEMO/bin/tools/helper.exe\nDEMO/readme.txt\n");
  // No support files and no pages: the engine still needs its resource archive to start, so it is
  // there, empty.
  const std::string test = "7zz t " + (root_ / "out/setup.res").string() + " >/dev/null";
  EXPECT_EQ(std::system(test.c_str()), 0);
}

}  // namespace
}  // namespace orv::make
