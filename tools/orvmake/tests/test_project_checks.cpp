// The project reader's checks: every malformed project is refused at its file and line before anything
// is written, script lines reach the image with the parameter count the engine reads, and the media,
// component and product tables come out as the engine expects them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>

#include "core/image.h"
#include "core/media_password.h"
#include "orvmake/command_table.h"
#include "orvmake/media.h"
#include "orvmake/project.h"
#include "orvmake/tests/test_folder.h"

namespace orv::make {
namespace {

namespace fs = std::filesystem;

class ProjectFolder : public TestFolder {
 protected:
  ProjectFolder() : TestFolder("checks") {}
  void SetUp() override {
    TestFolder::SetUp();
    write("files/app.dll", "0123456789");
    write("files/docs/guide.txt", "guide");
    write("files/docs/more/notes.txt", "notes!");
  }
  std::string path(const std::string& name) const { return (root_ / name).string(); }

  // Reads, plans and checks the project as orvmake does before it writes anything.
  Project planned(const std::string& text) const {
    write("project.orvp", text);
    Project project = readProject(path("project.orvp"));
    addWebBlockLines(project);
    planMedia(project);
    planComponents(project);
    checkProject(project);
    return project;
  }

  // Runs orvmake on the project; its exit code.
  int make(const std::string& project, const std::string& out, const std::string& extra = "") const {
    fs::create_directories(out);
    const std::string command = std::string(ORVMAKE_EXE) + " " + project + " --stub " + path("stub.exe") + " --out " + out +
                                " " + extra + " >/dev/null 2>" + path("stderr.txt");
    return std::system(command.c_str());
  }
};

constexpr char kInstall[] = "Install Files: DATA | | $TARGETDIR$\n";

TEST_F(ProjectFolder, MalformedProjectsAreRefusedAtTheirLine) {
  write("cycle-a.orvp", "include cycle-b.orvp\n");
  write("cycle-b.orvp", "title = X\ninclude cycle-a.orvp\n");
  struct Case {
    std::string text;
    std::string message;  // after "<project>:"
  } cases[] = {
      {"title = X\nSet Varable: A | 1\n", "2: unknown command \"Set Varable\" (declare a plug-in command with: plugin Set Varable)"},
      {"title = X\nset variable: A | 1\n", "2: unknown command \"set variable\" (the engine knows \"Set Variable\")"},
      {"title = X\nSet Variable: A | 1 | 2\n", "2: \"Set Variable\" takes 2 parameters (variable, value), the line gives 3"},
      {"title = X\nEnd: x\n", "2: \"End\" takes 0 parameters, the line gives 1"},
      {"title = X\nGet Environment: PATH\n",
       "2: \"Get Environment\" needs 2 parameters before the optional ones (name, result), the line gives 1"},
      {"title = X\ntitle = Y\n", "2: title is already set at line 1"},
      {"version = 1\n", "1: the project needs a title (title = ...)"},
      {"title = A/B\n", "1: the title names the uninstall entry and files: it needs 1 to 128 characters, none of \\ / : * ? \" < > | and no final \".\""},
      {"title = X\ncolour = red\n", "2: unknown product field \"colour\""},
      {"title = X\ncaching = 4\n", "2: caching must be 1, 2 or 3 (2 keeps the sources in the engine cache)"},
      {"title = X\ncodepage = 1251\n", "2: codepage must be one whose texts orvmake writes exactly: 1252, 28591, 20127 or 65001"},
      {"title = X\nproduct-code = {1234}\n", "2: product-code must be a GUID in braces, like {01234567-89AB-CDEF-0123-456789ABCDEF}"},
      {"title = X\nlanguage-dialog = maybe\n", "2: language-dialog must be TRUE or FALSE"},
      {"title = X\ninclude missing.orvp\n", "2: " + path("missing.orvp") + ": cannot read the included file"},
      {"include cycle-a.orvp\n", ""},  // reported at the include that closes the cycle, in cycle-b.orvp
      {"title = X\nmedia DATA = files | password=\n", "2: the password of the media block DATA must be a text without control characters"},
      {"title = X\nmedia DATA = files | password=a | password=b\n", "2: the media block DATA has two passwords"},
      {std::string("title = X\nmedia DATA = files | password=snow\xE2\x98\x83\n") + kInstall,
       "2: the password of the media block DATA holds characters that code page 1252 cannot show (choose another codepage)"},
      {"title = X\nmedia DATA = files | url=www.example.com/DATA.7zip\n",
       "2: \"www.example.com/DATA.7zip\" is not a download address (http://, https:// or ftp:// and a host, no blanks)"},
      {"title = X\nmedia DATA = files | mirror=x\n", "2: unknown media block setting \"mirror=x\" (password=..., url=...)"},
      {"title = X\nmedia OFFLINE = files\n", "2: OFFLINE is the offline block: name its folder with offline = folder"},
      {"title = X\noffline = files | password=a\n", "2: the offline block travels unpacked and takes no password"},
      {"title = X\noffline = files\noffline = files\n", "3: the offline block is already named at line 2"},
      {"title = X\nplugin Install Fonts\nplugin install fonts\n", "3: the plug-in command \"install fonts\" is already declared"},
      {"title = X\ncomponent DOCS = 10\ncomponent docs = 20\n", "3: the component DOCS is already named at line 2"},
      {"title = X\ncomponent DOCS = OTHER\\docs\n", "2: \"OTHER\" is not a media block of the project"},
      {"title = X\nmedia DATA = files\ncomponent DOCS = DATA\\nothing\n", "3: \"DATA\\nothing\" is not a folder of the media block DATA"},
      // The engine's own start-up checks, at the project line that fails them.
      {"title = X\nIf: A | 0 | 1 | FALSE\nEnd\n", "2: Variable not defined: A"},
      {"title = X\nSet Variable: A | 1\nIf: A | 0 | 1 | FALSE\n", "3: Insufficient END statements"},
      {"title = X\nInstall Files: | | \n", "2: A target folder must be specified for files that are being installed.\r"},
      {"title = X\nSet Variable: A | caf\xC3\xA9 \xE2\x82\xAC \xE2\x98\x83\n",
       "2: \"caf\xC3\xA9 \xE2\x82\xAC \xE2\x98\x83\" holds characters that code page 1252 cannot show (choose another codepage)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      planned(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const ProjectError& e) {
      const std::string expected =
          c.message.empty() ? path("cycle-b.orvp") + ":2: the include forms a cycle: cycle-a.orvp -> cycle-b.orvp -> cycle-a.orvp"
                            : path("project.orvp") + ":" + c.message;
      EXPECT_EQ(std::string(e.what()).substr(0, expected.size()), expected);
    }
  }
}

TEST_F(ProjectFolder, ScriptLinesCarryTheCountTheEngineReads) {
  const Project p = planned(
      "title = X\n"
      "plugin Install Fonts\n"
      "Comment: a | b \\| c\n"
      "Set Variable: A\n"
      "Install Fonts: FONTS=1 | lib\\fonts.dll | extra | more\n"
      "// Old Command: 1 | 2\n"
      "If: A | 5\n"
      "End:\n");
  const SetupImage& image = p.image;
  const ImageIndex index(image);
  EXPECT_EQ(index.parameterOfLine(0, 1), "a | b \\| c") << "a comment keeps its text whole";
  EXPECT_EQ(image.parameters.size(), 2u + 3u + 5u + 3u + 5u);
  EXPECT_EQ(index.parameterOfLine(2, 4), "more") << "a plug-in line carries what its library reads";
  EXPECT_EQ(index.parameterOfLine(3, 2), "2") << "a disabled unknown line is kept as written";
  EXPECT_EQ(index.parameterPosition(5), std::string::npos) << "\"End:\" has no parameter entry";
  // The optional tail of "If" is filled: its entry holds all four parameters.
  EXPECT_EQ(image.parameters.size(), index.parameterPosition(4) + 5);
  EXPECT_EQ(image.pluginCommands, std::vector<std::string>{"Install Fonts"});
}

TEST_F(ProjectFolder, ProductFieldsReachTheImage) {
  const Project p = planned(
      "title = Demo\nversion = 2.1\npublisher = Pub\ncontact = Someone\nhelp = https://h\nupdate = https://u\n"
      "comments = Fine\nproduct-code = {0123abcd-0000-1111-2222-333344445555}\ncodepage = 28591\nlanguage = German\n"
      "language-dialog = true\ncaching = 3\n");
  const SetupImage& i = p.image;
  EXPECT_EQ(std::vector<std::string>({i.title, i.version, i.publisher, i.contact, i.helpLink, i.updateInfoLink, i.comments}),
            std::vector<std::string>({"Demo", "2.1", "Pub", "Someone", "https://h", "https://u", "Fine"}));
  EXPECT_EQ(i.productCode, "{0123ABCD-0000-1111-2222-333344445555}");
  EXPECT_EQ(i.revisionCode.size(), 38u) << "derived when not given";
  EXPECT_EQ(i.codePage, 28591);
  EXPECT_EQ(i.defaultLanguage, "German");
  EXPECT_EQ(i.languageDialog, "TRUE");
  EXPECT_EQ(i.cachingMode, 3);
  EXPECT_EQ(i.componentSizes, (std::vector<std::string>{"ZORN-PREDEF-COMPONENT", "0"}));
}

TEST_F(ProjectFolder, ComponentSizesComeFromTheirBlockFolders) {
  const Project p = planned(std::string("title = X\nmedia DATA = files\ncomponent Docs = DATA\\docs\ncomponent EXTRA = 4096\n") +
                            kInstall);
  // app.dll (10) is nobody's; the docs (5 + 6) are DOCS'.
  EXPECT_EQ(p.image.componentSizes,
            (std::vector<std::string>{"ZORN-PREDEF-COMPONENT", "10", "DOCS", "11", "EXTRA", "4096"}));
  EXPECT_EQ(p.image.totalWeight, 21);
}

TEST_F(ProjectFolder, BlockPasswordsAreStoredSoTheEngineReadsThemBack) {
  const Project p = planned(std::string("title = X\nmedia DATA = files | password=s\xC3\xA9\x63ret \\| 1\n") + kInstall);
  ASSERT_EQ(p.image.mediaPasswords.size(), 2u);
  EXPECT_EQ(p.image.mediaPasswords[0], "DATA");
  EXPECT_NE(p.image.mediaPasswords[1], "s\xC3\xA9\x63ret | 1");
  // Stored in the project's code page (1252 unless it names another), as the engine reads it.
  EXPECT_EQ(unscrambleMediaPassword(p.image.mediaPasswords[1]).value_or("<bad>"), "s\xE9\x63ret | 1");
  EXPECT_EQ(p.mediaBlocks[0].password, "s\xC3\xA9\x63ret | 1") << "the archive writer takes the plain text";
  for (const std::string& password : {std::string(), std::string("a"), std::string(300, 'x'), std::string("\x01\xFF\x80", 3)})
    EXPECT_EQ(unscrambleMediaPassword(scrambleMediaPassword(password)).value_or("<bad>"), password);
}

TEST_F(ProjectFolder, AWebBlockWithUrlsGetsItsLineBeforeItsFirstInstall) {
  const Project p = planned(std::string("title = X\n"
                                        "media DATA = files | url=https://a.example/DATA.7zip | url=http://b.example/DATA.7zip\n"
                                        "Set Variable: A | 1\n") +
                            "// " + kInstall + kInstall + kInstall);
  const SetupImage& image = p.image;
  ASSERT_EQ(image.lineCount(), 5u);
  EXPECT_EQ(image.commands[2], "Web Media Block") << "in front of the first enabled install line";
  const ImageIndex index(image);
  EXPECT_EQ(index.parameterOfLine(2, 1), "DATA");
  EXPECT_EQ(index.parameterOfLine(2, 2), "https://a.example/DATA.7zip$NEWLINE$http://b.example/DATA.7zip");
  EXPECT_EQ(p.scriptLines[2].line, 2u) << "errors of the line point at the block";
  // The headers number the lines after the insertion.
  EXPECT_EQ(image.commandHeaders, (std::vector<std::string>{"A0000001", "1", "A0000003", "3", "A0000004", "4"}));

  const Project own = planned(std::string("title = X\nmedia DATA = files | url=https://a.example/DATA.7zip\n"
                                          "Web Media Block: data | https://mirror.example/DATA.7zip | FALSE\n") +
                              kInstall);
  EXPECT_EQ(own.image.lineCount(), 2u) << "the script's own line stays the only one";
}

TEST_F(ProjectFolder, TheOfflineBlockTravelsUnpackedInTheDataFolder) {
  write("stub.exe", "MZ engine stand-in");
  write("project.orvp", "title = X\noffline = files\nInstall Files: OFFLINE | | $TARGETDIR$\n");
  write("out/data/offline/stale.txt", "from an earlier build");
  ASSERT_EQ(make(path("project.orvp"), path("out")), 0) << readAll(root_ / "stderr.txt");
  EXPECT_EQ(readAll(root_ / "out/data/offline/app.dll"), "0123456789");
  EXPECT_EQ(readAll(root_ / "out/data/offline/docs/more/notes.txt"), "notes!");
  EXPECT_FALSE(fs::exists(root_ / "out/data/offline/stale.txt"));
  EXPECT_FALSE(fs::exists(root_ / "out/OFFLINE.7zip"));

  write("p2.orvp", std::string("title = X\noffline = files\nInstall Files: OFFLINE\\docs | *.txt | $TARGETDIR$\n"));
  Project p = readProject(path("p2.orvp"));
  planMedia(p);
  // The engine copies data\offline\<path> to <data folder>\offline\<path> and installs from there.
  EXPECT_EQ(p.image.mediaFiles, (std::vector<std::string>{"OFFLINE", "app.dll", "OFFLINE\\",                    //
                                                          "OFFLINE", "docs\\guide.txt", "OFFLINE\\docs\\",      //
                                                          "OFFLINE", "docs\\more\\notes.txt", "OFFLINE\\docs\\more\\"}));
  EXPECT_EQ(p.image.headerFiles, (std::vector<std::string>{"A0000000", "NEWHEADER", "OFFLINE\\docs\\guide.txt", "",
                                                           "OFFLINE\\docs\\more\\notes.txt", "more\\"}));
  EXPECT_EQ(p.image.mediaFolders, std::vector<std::string>{"OFFLINE\\"});
  // The copy keeps the shipped files where they are instead of moving them into the cache.
  const auto constants = ImageIndex(p.image).compilerConstants();
  EXPECT_NE(std::find(constants.begin(), constants.end(), std::pair<std::string, std::string>{"CACHESOURCES", "TRUE"}),
            constants.end());
}

TEST_F(ProjectFolder, TheSameProjectGivesTheSameSetup) {
  write("stub.exe", "MZ engine stand-in");
  const std::string text = std::string("title = X\nmedia DATA = files | password=pw\n") + kInstall;
  for (const char* folder : {"one", "two-longer"}) {
    write(std::string(folder) + "/project.orvp", text);
    fs::copy(root_ / "files", root_ / folder / "files", fs::copy_options::recursive);
  }
  ASSERT_EQ(make(path("one/project.orvp"), path("out1")), 0);
  ASSERT_EQ(make(path("one/project.orvp"), path("out2")), 0);
  ASSERT_EQ(make(path("two-longer/project.orvp"), path("out3")), 0);
  const std::string first = readAll(root_ / "out1/setup.exe");
  EXPECT_EQ(first, readAll(root_ / "out2/setup.exe"));
  // Another folder changes only the places that name it.
  std::string moved = readAll(root_ / "out3/setup.exe");
  const std::string from = path("two-longer"), to = path("one");
  for (size_t at = moved.find(from); at != std::string::npos; at = moved.find(from, at + to.size()))
    moved.replace(at, from.size(), to);
  EXPECT_EQ(moved, first);
}

TEST_F(ProjectFolder, TheLibraryIsCopiedBesideTheSetup) {
  write("stub.exe", "MZ engine stand-in");
  write("orv.lib", "archive library");
  write("project.orvp", "title = X\n");
  EXPECT_NE(make(path("project.orvp"), path("out"), "--library " + path("missing.lib")), 0);
  EXPECT_FALSE(fs::exists(root_ / "out/setup.exe")) << "nothing is written when the library is missing";
  ASSERT_EQ(make(path("project.orvp"), path("out"), "--library " + path("orv.lib")), 0);
  EXPECT_EQ(readAll(root_ / "out/orv.lib"), "archive library");
}

// The names the engine runs: the family tables of its registry and the lines the interpreter handles.
std::set<std::string> engineCommandNames() {
  const fs::path source = fs::path(__FILE__).parent_path().parent_path().parent_path().parent_path() / "src";
  std::set<std::string> names;
  const std::regex entry(R"re(\{\s*"([^"]+)"\s*,\s*[A-Za-z_][A-Za-z0-9_:]*\s*\})re");
  std::vector<fs::path> files = {source / "core/script_check_flow.cpp", source / "script/dialog_commands.cpp"};
  for (const auto& file : fs::directory_iterator(source / "commands")) files.push_back(file.path());
  for (const fs::path& file : files) {
    const std::string text = readAll(file);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), entry); it != std::sregex_iterator(); ++it)
      names.insert((*it)[1]);
  }
  return names;
}

TEST(CommandTable, HoldsEveryCommandTheEngineRuns) {
  const std::set<std::string> engine = engineCommandNames();
  ASSERT_GT(engine.size(), 40u) << "the registry tables were not found";
  for (const std::string& name : engine) EXPECT_NE(findCommandEntry(name), nullptr) << name;
}

TEST(CommandTable, EntriesAreUniqueAndReadable) {
  std::set<std::string_view> seen;
  for (const CommandEntry& entry : commandTable()) {
    EXPECT_TRUE(seen.insert(entry.name).second) << entry.name;
    const CommandParameters p = entry.parsed();
    EXPECT_LE(p.required, p.names.size()) << entry.name;
    for (const std::string& name : p.names) EXPECT_FALSE(name.empty() || name.find_first_of("?. ") != std::string::npos) << entry.name;
  }
  const CommandParameters install = findCommandEntry("Install Files")->parsed();
  EXPECT_EQ(install.names.size(), 12u);
  EXPECT_EQ(install.required, 3u);
}

}  // namespace
}  // namespace orv::make
