// Media acquisition in-process: web blocks extracted through the real archive library from archives
// made by 7-Zip (beside the "setup"), placed by the media file table into an engine cache folder; the
// offline block copied from the setup's data folder; "Extract 7Zip Archive".
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/archive/sevenzip_writer.h"
#include "core/text.h"
#include "media/acquire_media.h"
#include "media/media_password.h"
#include "media/media_state.h"
#include "native_fixture.h"
#include "platform/files.h"
#include "platform/system.h"
#include "support/windows_test.h"

namespace orv::test {
namespace {

constexpr const char* kRevision = "{6F1C2A10-0000-4000-8000-0000000000A2}";

std::string mediaFixture(const std::string& name) { return hostPath(ORV_FIXTURES) + "\\media\\" + name; }

// Answers the retry prompt from a list (Cancel when it runs out) and records the error boxes.
class ScriptedPrompts final : public MediaPrompts {
 public:
  ExtractionRetry retryExtraction(Engine&) override {
    ++retryPrompts;
    if (answers.empty()) return ExtractionRetry::Cancel;
    const ExtractionRetry a = answers.front();
    answers.pop_front();
    return a;
  }
  void showFailure(Engine&, const std::string& text) override { failures.push_back(text); }

  std::deque<ExtractionRetry> answers;
  int retryPrompts = 0;
  std::vector<std::string> failures;
};

class MediaTest : public NativeFixture {
 protected:
  void SetUp() override {
    NativeFixture::SetUp();
    beside = root + "setup\\";
    createFolders(beside);
    engine.startup.programFolder = builtProgramFolder();
    engine.startup.programPath = beside + "setup.exe";
    engine.startup.dataFolder = data;
    set("EXEDIR", beside);
    set("GPOPATH", "");
    set("SFXPATH", "");
    set("REMOVE", "FALSE");
    set("COPYWEBLOCK", "");
    set("ZORN_COMPRESS_INSTALLER_CACHE", "FALSE");
    mediaState(engine).prompts = prompts;
    dataFolder = cache + kRevision + "\\";
  }

  // An image whose media file table places WEB1's files.
  void loadMedia(std::vector<std::string> mediaFiles, std::vector<std::string> passwords = {}, Lines lines = {{"Comment"}}) {
    SetupImage image = scriptLines(lines);
    image.cachingMode = 2;
    image.mediaFiles = std::move(mediaFiles);
    image.mediaPasswords = std::move(passwords);
    engine.loadImage(std::move(image));
  }

  void putBeside(const std::string& fixtureName, const std::string& as) {
    ASSERT_TRUE(copyFileOver(mediaFixture(fixtureName), beside + as)) << mediaFixture(fixtureName);
  }

  // The failure text of an acquisition, empty when the block became present.
  std::string acquire(const std::string& block) {
    try {
      acquireMedia(engine, block);
      return {};
    } catch (const MediaFailure& failure) {
      return failure.what();
    }
  }

  size_t failedAttempts() const {
    size_t n = 0;
    for (const std::string& line : traceLines())
      if (line.find("<Media>") != std::string::npos && line.find(".7zip: ") != std::string::npos) ++n;
    return n;
  }

  std::shared_ptr<ScriptedPrompts> prompts = std::make_shared<ScriptedPrompts>();
  std::string beside;
  std::string dataFolder;
};

const std::vector<std::string> kWeb1Table = {
    "WEB1", "B1\\readme.txt", "WEB1\\77F6032E\\B1\\",
    "WEB1", "B1\\app.dat",    "WEB1\\77F6032E\\B1\\",
    "web1", "B1\\readme.txt", "WEB1\\second\\",  // the same archive file in a second folder
};

TEST(MediaPassword, StoredTextsTurnIntoPasswordsAndBack) {
  EXPECT_EQ(unscrambleMediaPassword("31373035").value_or("<bad>"), "ab");
  EXPECT_EQ(unscrambleMediaPassword("").value_or("<bad>"), "");
  for (const std::string& password :
       std::vector<std::string>{"open sesame", "x", "\xE9t\xE9 \x01\x7F\xFF", std::string(300, 'p')})
    EXPECT_EQ(unscrambleMediaPassword(scrambleMediaPassword(password)).value_or("<bad>"), password);
  for (const char* damaged : {"3", "313", "ZZ", "3137303", "313G"})
    EXPECT_FALSE(unscrambleMediaPassword(damaged)) << damaged;
}

TEST_F(MediaTest, AWebBlockIsPlacedByTheTableAndMarkedComplete) {
  loadMedia(kWeb1Table);
  putBeside("WEB1.7zip", "WEB1.7zip");
  ASSERT_EQ(acquire("WEB1\\"), "");
  EXPECT_EQ(read(dataFolder + "WEB1\\77F6032E\\B1\\readme.txt"), "read me\r\n");
  EXPECT_EQ(read(dataFolder + "WEB1\\77F6032E\\B1\\app.dat"), "application data");
  EXPECT_EQ(read(dataFolder + "WEB1\\second\\readme.txt"), "read me\r\n");
  EXPECT_EQ(read(dataFolder + "WEB1\\docs\\notes.txt"), "notes stay with the block") << "files the table does not name";
  EXPECT_FALSE(fileExists(dataFolder + "WEB1\\B1\\readme.txt")) << "moved, not copied";
  EXPECT_TRUE(fileExists(dataFolder + "WEB1\\" + kRevision));
  EXPECT_TRUE(fileExists(beside + "WEB1.7zip")) << "a local archive stays";
  EXPECT_FALSE(folderExists(tempFolder() + "zorn\\WEB1"));
  const std::string progress = var("ZORN_thProgressText");
  EXPECT_TRUE(progress.starts_with("Extracting Web Media: WEB1\r")) << progress;
  EXPECT_TRUE(progress.ends_with(", 100% complete")) << progress;

  // Present now: a later acquisition needs no archive at all.
  deleteTree(beside);
  EXPECT_EQ(acquire("WEB1\\"), "");
}

TEST_F(MediaTest, ACancelDuringExtractionLeavesNoBlock) {
  loadMedia(kWeb1Table);
  putBeside("WEB1.7zip", "WEB1.7zip");
  set("ZORN_IsCancelled", "TRUE");  // the user pressed Cancel as the extraction began
  EXPECT_EQ(acquire("WEB1\\"), kExtractionFailed);
  EXPECT_EQ(var("ZORN_IsCancelled"), "TRUE");
  EXPECT_FALSE(folderExists(dataFolder + "WEB1"));
  EXPECT_EQ(prompts->retryPrompts, 0);
}

TEST_F(MediaTest, AnInterruptedBlockIsEmptiedAndRedone) {
  loadMedia(kWeb1Table);
  putBeside("WEB1.7zip", "WEB1.7zip");
  writeData(dataFolder + "WEB1\\77F6032E\\B1\\readme.txt", "half written");
  writeData(dataFolder + "WEB1\\stale.txt", "from the interrupted run");
  ASSERT_EQ(acquire("WEB1\\"), "");
  EXPECT_EQ(read(dataFolder + "WEB1\\77F6032E\\B1\\readme.txt"), "read me\r\n");
  EXPECT_FALSE(fileExists(dataFolder + "WEB1\\stale.txt"));
  EXPECT_TRUE(fileExists(dataFolder + "WEB1\\" + kRevision));
}

TEST_F(MediaTest, AnArchiveInTheDataFolderIsUsedAndDeletedAfterwards) {
  loadMedia(kWeb1Table);
  writeData(dataFolder + "WEB1.7zip", read(mediaFixture("WEB1.7zip")));
  ASSERT_EQ(acquire("WEB1\\"), "");
  EXPECT_TRUE(fileExists(dataFolder + "WEB1\\second\\readme.txt"));
  EXPECT_FALSE(fileExists(dataFolder + "WEB1.7zip"));
}

TEST_F(MediaTest, PasswordsServeTheirBlockOrEveryBlockAsOffline) {
  struct Case {
    const char* name;
    const char* archive;
    std::vector<std::string> passwords;
  };
  const Case cases[] = {
      {"own entry, encrypted names", "WEBPW.7zip", {"WEBPW", scrambleMediaPassword("open sesame")}},
      {"the offline entry", "WEBPW.7zip", {"OFFLINE", scrambleMediaPassword("open sesame")}},
      {"encrypted data only", "WEBPW-data.7zip", {"webpw", scrambleMediaPassword("open sesame")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    deleteTree(dataFolder);
    loadMedia({"WEBPW", "B2\\secret.txt", "WEBPW\\B2\\"}, c.passwords);
    putBeside(c.archive, "WEBPW.7zip");
    ASSERT_EQ(acquire("WEBPW\\"), "");
    EXPECT_EQ(read(dataFolder + "WEBPW\\B2\\secret.txt"), "protected content");
  }
}

TEST_F(MediaTest, AWrongPasswordIsTriedTenTimesThenEveryFailureAsks) {
  for (const char* archive : {"WEBPW.7zip", "WEBPW-data.7zip"}) {
    SCOPED_TRACE(archive);
    loadMedia({"WEBPW", "B2\\secret.txt", "WEBPW\\B2\\"}, {"WEBPW", scrambleMediaPassword("wrong")});
    putBeside(archive, "WEBPW.7zip");
    set("SILENT", "FALSE");
    set("ZORN_IsCancelled", "FALSE");
    trace.setPath(root + std::string(archive) + ".log");
    tracePath = root + std::string(archive) + ".log";
    prompts->retryPrompts = 0;
    prompts->answers = {ExtractionRetry::ExtractAgain};
    EXPECT_EQ(acquire("WEBPW\\"), kExtractionFailed);
    EXPECT_EQ(prompts->retryPrompts, 2) << "the counter is not reset by the prompt";
    EXPECT_EQ(failedAttempts(), 11u);
    EXPECT_EQ(var("ZORN_IsCancelled"), "TRUE");
    EXPECT_FALSE(folderExists(dataFolder + "WEBPW"));
    EXPECT_TRUE(fileExists(beside + "WEBPW.7zip")) << "the download data is preserved";
  }
}

TEST_F(MediaTest, AFreshCopySetsTheLocalArchiveAsideForTheRun) {
  loadMedia({"WEBPW", "B2\\secret.txt", "WEBPW\\B2\\"}, {"WEBPW", scrambleMediaPassword("wrong")});
  putBeside("WEBPW.7zip", "WEBPW.7zip");
  set("SILENT", "FALSE");
  prompts->answers = {ExtractionRetry::FreshCopy};
  EXPECT_EQ(acquire("WEBPW\\"), kDownloadFailed);
  EXPECT_FALSE(mediaState(engine).resume);
  EXPECT_TRUE(fileExists(beside + "WEBPW.7zip"));
}

TEST_F(MediaTest, HostilePathsAreRefusedAndNothingLandsOutside) {
  const std::vector<uint8_t> evil = archive::writeCopyArchive(
      {{"WEB1\\B1\\readme.txt", archive::WriterEntry::Kind::File, {'o', 'k'}},
       {"WEB1\\..\\..\\..\\evil.txt", archive::WriterEntry::Kind::File, {'x'}}});
  struct Case {
    const char* name;
    std::vector<std::string> table;
    std::string archive;  // empty: the 7-Zip-made one
    std::string failure;
  };
  const Case cases[] = {
      {"an archive entry climbing out", {"WEB1", "B1\\readme.txt", "WEB1\\B1\\"}, std::string(evil.begin(), evil.end()),
       kExtractionFailed},
      {"a table destination climbing out", {"WEB1", "B1\\readme.txt", "WEB1\\..\\..\\..\\"}, "", ""},
      {"a rooted table path", {"WEB1", "C:\\Windows\\win.ini", "WEB1\\"}, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    loadMedia(c.table);
    if (c.archive.empty()) putBeside("WEB1.7zip", "WEB1.7zip");
    else writeData(beside + "WEB1.7zip", c.archive);
    const std::string failure = acquire("WEB1\\");
    if (!c.failure.empty()) {
      EXPECT_EQ(failure, c.failure);
    } else {
      EXPECT_TRUE(startsWithNoCase(failure, "Illegal path in the media file table")) << failure;
    }
    EXPECT_FALSE(fileExists(dataFolder + "WEB1\\" + kRevision));
    for (const std::string& where : {root, cache, tempFolder(), tempFolder() + "zorn\\"})
      EXPECT_FALSE(fileExists(where + "evil.txt")) << where;
    EXPECT_FALSE(fileExists(cache + "readme.txt"));
  }
  EXPECT_EQ(acquire("..\\"), "Illegal media block name: ..\\");
}

TEST_F(MediaTest, TheOfflineBlockMovesIntoTheCacheWithMergeModulesFlattened) {
  loadMedia({});
  writeData("offline\\77F6032E\\a.txt", "A");
  writeData("mergemod\\x86\\m.msm", "M");
  ASSERT_EQ(acquire("OFFLINE\\"), "");
  EXPECT_EQ(read(dataFolder + "offline\\77F6032E\\a.txt"), "A");
  EXPECT_EQ(read(dataFolder + "x86\\m.msm"), "M");
  EXPECT_TRUE(fileExists(dataFolder + "OFFLINE\\" + kRevision));
  EXPECT_FALSE(fileExists(data + "offline\\77F6032E\\a.txt")) << "moved out of the setup's folder";
}

TEST_F(MediaTest, AnUninstallNeedsNoMedia) {
  loadMedia(kWeb1Table);
  set("REMOVE", "TRUE");
  EXPECT_EQ(acquire("WEB1\\"), "");
  EXPECT_FALSE(folderExists(dataFolder + "WEB1"));
}

TEST_F(MediaTest, AFailedBlockOfAnInstallLineAbortsOrIsRecorded) {
  const Lines lines = {{"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE",
                        "FALSE", "FALSE", "FALSE"}};
  for (const char* abortOnError : {"FALSE", "TRUE"}) {
    SCOPED_TRACE(abortOnError);
    load(lines, {{0, {{"WEB1\\77F6032E\\B1\\readme.txt", ""}}}});
    SetupImage image = engine.image;
    image.cachingMode = 2;
    image.mediaFolders = {"WEB1\\"};
    engine.loadImage(std::move(image));
    engine.interpreter->ended = false;
    set("ABORTONERROR", abortOnError);
    set("DELAYUNTIL_APPLYCHANGES", "TRUE");  // the action waits in the queue: only the media failure counts
    set("ABORTEDONERROR", "FALSE");
    set("SILENT", "FALSE");
    prompts->failures.clear();
    runLine(1);  // no archive anywhere: the block cannot be had
    EXPECT_EQ(prompts->failures, std::vector<std::string>{kDownloadFailed});
    EXPECT_EQ(runEnded(), isTrueText(abortOnError));
    EXPECT_EQ(var("ABORTEDONERROR"), isTrueText(abortOnError) ? "FALSE" : "TRUE");
  }
}

class Extract7ZipTest : public MediaTest {};

TEST_F(Extract7ZipTest, ResultsTellSuccessAndEachFailure) {
  struct Case {
    const char* name;
    std::string archive;
    const char* password;
    const char* keepFolders;
    std::string result;
    std::string placed;  // a file expected below the target
  };
  const Case cases[] = {
      {"plain", mediaFixture("WEB1.7zip"), "", "TRUE", "SUCCESS", "WEB1\\docs\\notes.txt"},
      {"flattened", mediaFixture("WEB1.7zip"), "", "FALSE", "SUCCESS", "notes.txt"},
      {"password", mediaFixture("WEBPW.7zip"), "open sesame", "TRUE", "SUCCESS", "WEBPW\\B2\\secret.txt"},
      {"wrong password, encrypted names", mediaFixture("WEBPW.7zip"), "nope", "TRUE",
       "The archive cannot be opened: unsupported archive or incorrect password", ""},
      {"wrong password, encrypted data", mediaFixture("WEBPW-data.7zip"), "nope", "TRUE",
       "The archive cannot be opened: unsupported archive or incorrect password", ""},
      {"missing archive", root + "none.7z", "", "TRUE", "The archive file was not found", ""},
      {"not an archive", hostPath(ORV_FIXTURES) + "\\corrupt.res", "", "TRUE",
       "The archive cannot be opened: unsupported archive or incorrect password", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = root + "out-" + std::string(c.name) + "\\";
    set("ARCHIVE", c.archive);
    set("OUT", out);
    set("PASSWORD", c.password);
    load({{"Extract 7Zip Archive", "$ARCHIVE$", "$OUT$", "RESULT", "$PASSWORD$", "TRUE", c.keepFolders}});
    runLine(1);
    EXPECT_EQ(var("RESULT"), c.result);
    EXPECT_TRUE(folderExists(out)) << "the target folder is made first";
    if (!c.placed.empty()) {
      EXPECT_TRUE(fileExists(out + c.placed));
    }
  }
}

}  // namespace
}  // namespace orv::test
