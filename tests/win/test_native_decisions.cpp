// The native engine's decisions: overwriting by versions, dates and settings, the error question and its
// remembered answers, files in use replaced or deleted at the next start, and a cancel that rolls back.
#include "native_fixture.h"

#include "core/commatext.h"
#include "core/text.h"
#include "engines/native_job.h"
#include "platform/file_info.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/strings.h"
#include "ui/main_window.h"

namespace orv::test {
namespace {

class NativeDecisionTest : public NativeFixture {};

struct VersionedFile {
  int version = -1;  // major version of a version resource; -1: a plain file without one
  int age = 0;       // seconds before now of its write time
};

TEST_F(NativeDecisionTest, OverwriteFollowsSettingsVersionsAndDates) {
  struct Case {
    const char* name;
    const char* setting;
    const char* older;
    VersionedFile incoming, existing;
    bool asked;
    Answer answer;
    bool overwrite;
  } cases[] = {
      {"never", "NEVER", "TRUE", {2}, {1}, false, Answer::Yes, false},
      {"always and older", "ALWAYS", "TRUE", {1}, {2}, false, Answer::Yes, true},
      {"always, newer version", "ALWAYS", "FALSE", {2}, {1}, false, Answer::Yes, true},
      {"always, older version", "ALWAYS", "FALSE", {1}, {2}, false, Answer::Yes, false},
      {"prompt, existing higher", "", "", {1}, {2}, false, Answer::Yes, false},
      {"prompt, existing lower", "", "", {2}, {1}, true, Answer::Yes, true},
      {"prompt, existing lower, no", "PROMPT", "FALSE", {2}, {1}, true, Answer::No, false},
      {"prompt and older, existing higher", "PROMPT", "TRUE", {1}, {2}, true, Answer::No, false},
      {"dates, existing older", "", "", {-1, 10}, {-1, 1000}, true, Answer::Yes, true},
      {"dates, existing newer", "ALWAYS", "", {-1, 1000}, {-1, 10}, false, Answer::Yes, false},
      {"unversioned existing, newer date wins", "ALWAYS", "", {3, 1000}, {-1, 10}, false, Answer::Yes, false},
      {"unversioned new against versioned", "ALWAYS", "", {-1, 10}, {1, 1000}, false, Answer::Yes, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string incoming = root + "new" + std::to_string(n) + ".dll";
    const std::string existing = root + "old" + std::to_string(n++) + ".dll";
    for (const auto& [path, spec] : {std::pair{incoming, c.incoming}, std::pair{existing, c.existing}}) {
      if (spec.version >= 0) writeVersionedLibrary(path, static_cast<uint16_t>(spec.version), 0, 0, 0);
      else writeData(path, "plain");
      setWriteTime(path, -spec.age);
    }
    set("NATIVE_OVERWRITE", c.setting);
    set("NATIVE_OVERWRITE_OLDER", c.older);
    questions->asked.clear();
    questions->answers = {c.answer};
    NativeJob job(engine, nullptr, JobMode::Action, 0);
    const NativeJob::OverwriteDecision d = job.decideOverwrite(incoming, existing);
    EXPECT_EQ(d.overwrite, c.overwrite);
    EXPECT_FALSE(d.cancel);
    EXPECT_EQ(!questions->asked.empty(), c.asked);
  }
  // A missing file is simply written.
  NativeJob job(engine, nullptr, JobMode::Action, 0);
  EXPECT_TRUE(job.decideOverwrite(root + "new0.dll", root + "nothing-here.dll").overwrite);
}

TEST_F(NativeDecisionTest, TheOverwriteQuestionShowsBothFiles) {
  writeVersionedLibrary(root + "new.dll", 2, 1, 0, 7);
  writeData(root + "old.dll", "plain");
  setWriteTime(root + "old.dll", -100000);
  questions->answers = {Answer::No};
  NativeJob job(engine, nullptr, JobMode::Action, 0);
  job.decideOverwrite(root + "new.dll", root + "old.dll");
  ASSERT_EQ(questions->asked.size(), 1u);
  const std::string& text = questions->asked[0].second;
  EXPECT_EQ(text.rfind(root + "old.dll\r\rOld file version: <no version information>\rOld file date: ", 0), 0u) << text;
  EXPECT_NE(text.find("\r\rNew file version: 2.1.0.7\rNew file date: "), std::string::npos) << text;
  EXPECT_NE(text.find("\r\rWould you like to overwrite this file?"), std::string::npos);
}

TEST_F(NativeDecisionTest, YesToAllIsRememberedForTheRun) {
  for (const char* name : {"a.dll", "b.dll"}) {
    writeVersionedLibrary(data + "files\\" + name, 2, 0, 0, 0);
    writeVersionedLibrary(target + name, 1, 0, 0, 0);
  }
  load({{"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"}},
       {{0, {{"files\\a.dll", ""}, {"files\\b.dll", ""}}}});
  questions->answers = {Answer::YesToAll};
  runAll();
  EXPECT_EQ(questions->asked.size(), 1u);
  EXPECT_EQ(var("NATIVE_OVERWRITE"), "ALWAYS");
  EXPECT_EQ(fileVersion(target + "b.dll").value_or(FileVersion{}).text(), "2.0.0.0");
}

TEST_F(NativeDecisionTest, TheErrorQuestionAndItsSettings) {
  struct Case {
    const char* setting;
    const char* silent;
    Answer answer;
    bool retry, abort, asked;
    const char* settingAfter;
  } cases[] = {
      {"RETRY", "FALSE", Answer::No, true, false, false, "RETRY"},
      {"IGNORE", "FALSE", Answer::Yes, false, false, false, "IGNORE"},
      {"ABORT", "FALSE", Answer::Yes, false, true, false, "ABORT"},
      {"PROMPT", "TRUE", Answer::Yes, false, false, false, "PROMPT"},
      {"PROMPT", "FALSE", Answer::Yes, true, false, true, "PROMPT"},
      {"", "FALSE", Answer::YesToAll, true, false, true, "RETRY"},
      {"PROMPT", "FALSE", Answer::No, false, false, true, "PROMPT"},
      {"PROMPT", "FALSE", Answer::NoToAll, false, false, true, "IGNORE"},
      {"PROMPT", "FALSE", Answer::Cancel, false, true, true, "PROMPT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.setting) + "/" + c.silent);
    set("NATIVE_ERROR", c.setting);
    set("SILENT", c.silent);
    set("ZORN_IsCancelled", "FALSE");
    questions->asked.clear();
    questions->answers = {c.answer};
    NativeJob job(engine, nullptr, JobMode::Action, 0);
    const NativeJob::ErrorDecision d = job.decideOnError("Access is denied.\r\rC:\\x", 5);
    EXPECT_EQ(d.retry, c.retry);
    EXPECT_EQ(d.abort, c.abort);
    EXPECT_EQ(var("ZORN_IsCancelled"), c.abort ? "TRUE" : "FALSE");
    EXPECT_EQ(!questions->asked.empty(), c.asked);
    if (c.asked) {
      EXPECT_EQ(questions->asked[0].second, "Access is denied.\r\rC:\\x\r\rWould you like to try again?");
    }
    EXPECT_EQ(var("NATIVE_ERROR"), c.settingAfter);
  }
  NativeJob job(engine, nullptr, JobMode::Action, 0);
  questions->asked.clear();
  const NativeJob::ErrorDecision none = job.decideOnError("nothing", 0);
  EXPECT_FALSE(none.retry || none.abort || !questions->asked.empty());
}

TEST_F(NativeDecisionTest, IgnoringACopyErrorLeavesNoRecordAndTheActionCompletes) {
  writeData("files\\here.txt", "here");
  load({{"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"}},
       {{0, {{"files\\missing.txt", ""}, {"files\\here.txt", ""}}}});
  set("NATIVE_ERROR", "IGNORE");
  runAll();
  EXPECT_FALSE(runEnded());
  EXPECT_EQ(read(target + "here.txt"), "here");
  // Records: the target folder and the one file that arrived.
  ASSERT_EQ(records().size(), 2u);
  EXPECT_EQ(records()[0].kind, "Delete Folder");
  EXPECT_EQ(records()[1].kind, "Delete File");
  EXPECT_EQ(splitCommaText(records()[1].data), std::vector<std::string>{target + "here.txt"});
}

// Files from read-only media arrive without the media's attributes; a file the user later made
// read-only is still removed by the uninstall.
TEST_F(NativeDecisionTest, CopiesShedTheMediasAttributesAndProtectedFilesStillUninstall) {
  writeData("files\\media.txt", "from a CD");
  writeData("files\\plain.txt", "plain");
  SetFileAttributesW(widen(data + "files\\media.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  load({{"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"}},
       {{0, {{"files\\media.txt", ""}, {"files\\plain.txt", ""}}}});
  runAll();
  for (const char* name : {"media.txt", "plain.txt"})
    EXPECT_EQ(GetFileAttributesW(widen(target + name).c_str()) & 7u, 0u) << name;
  SetFileAttributesW(widen(target + "plain.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_FALSE(folderExists(target));
  SetFileAttributesW(widen(data + "files\\media.txt").c_str(), FILE_ATTRIBUTE_NORMAL);  // so TearDown can remove it
}

TEST_F(NativeDecisionTest, AFileInUseIsReplacedAtTheNextStart) {
  writeData("files\\busy.dll", "new");
  writeData(target + "busy.dll", "old");
  load({{"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"}},
       {{0, {{"files\\busy.dll", ""}}}});
  set("NATIVE_OVERWRITE", "ALWAYS");
  set("NATIVE_OVERWRITE_OLDER", "TRUE");
  {
    // Open without sharing delete: it can be neither deleted nor renamed.
    UniqueHandle busy = ownFileHandle(CreateFileW(widen(target + "busy.dll").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                  nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(busy);
    runAll();
  }
  EXPECT_TRUE(state().rebootNeeded.load());
  EXPECT_EQ(read(target + "busy.dll"), "old");
  const std::string placeholder = cache + var("REVISIONCODE") + "\\move.0";
  EXPECT_EQ(read(placeholder), "new");
  const std::vector<std::string> renames = pendingRenames();
  bool scheduled = false;
  for (size_t i = 0; i + 1 < renames.size(); i += 2)
    scheduled |= endsWithNoCase(renames[i], placeholder) && endsWithNoCase(renames[i + 1], target + "busy.dll");
  EXPECT_TRUE(scheduled);
}

TEST_F(NativeDecisionTest, AFileInUseThatCanBeRenamedFreesItsNameAtOnce) {
  writeData("files\\running.exe", "new");
  writeData(target + "running.exe", "old");
  load({{"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"}},
       {{0, {{"files\\running.exe", ""}}}});
  set("NATIVE_OVERWRITE", "ALWAYS");
  set("NATIVE_OVERWRITE_OLDER", "TRUE");
  UniqueHandle running = ownFileHandle(CreateFileW(widen(target + "running.exe").c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(running);
  runAll();
  EXPECT_EQ(read(target + "running.exe"), "new");
  EXPECT_EQ(read(target + "running.exe.0"), "old");
  const std::vector<std::string> renames = pendingRenames();
  bool scheduled = false;
  for (size_t i = 0; i + 1 < renames.size(); i += 2)
    scheduled |= endsWithNoCase(renames[i], target + "running.exe.0") && renames[i + 1].empty();
  EXPECT_TRUE(scheduled);
  EXPECT_FALSE(state().rebootNeeded.load());
}

TEST_F(NativeDecisionTest, UninstallingAFileInUseDeletesItAtTheNextStart) {
  writeData("files\\busy.dll", "new");
  load({{"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"}},
       {{0, {{"files\\busy.dll", ""}}}});
  runAll();
  UniqueHandle busy = ownFileHandle(CreateFileW(widen(target + "busy.dll").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(busy);
  ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_TRUE(state().rebootNeeded.load());
  const std::vector<std::string> renames = pendingRenames();
  bool scheduled = false;
  for (size_t i = 0; i + 1 < renames.size(); i += 2)
    scheduled |= endsWithNoCase(renames[i], target + "busy.dll") && renames[i + 1].empty();
  EXPECT_TRUE(scheduled);
  busy.reset();
}

TEST_F(NativeDecisionTest, ACancelledOverwriteRollsBackAndEndsTheRun) {
  writeData("files\\a.txt", "A");
  writeVersionedLibrary(data + "files\\b.dll", 2, 0, 0, 0);
  writeVersionedLibrary(target + "b.dll", 1, 0, 0, 0);
  const TreeSnapshot before = snapshotTree(target);
  load({{"Install Files", "", "", "$TARGET$new", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"},
        {"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"}},
       {{0, {{"files\\a.txt", ""}}}, {1, {{"files\\b.dll", ""}}}});
  questions->answers = {Answer::Cancel};
  runAll();
  EXPECT_TRUE(runEnded());
  EXPECT_EQ(var("ZORN_IsCancelled"), "TRUE");
  EXPECT_EQ(snapshotTree(target), before);
  // The rollback's bar ran back to empty.
  EXPECT_EQ(var("ZORN_thProgress"), "0");
}

// A slow medium for the cancel test: each chunk takes a moment. A plain function, since a lambda does not
// convert to the 32-bit build's stdcall routine pointer.
struct SlowCopy {
  LPPROGRESS_ROUTINE inner;
  void* data;
};
DWORD CALLBACK slowProgress(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER c, LARGE_INTEGER d, DWORD e, DWORD f,
                            HANDLE g, HANDLE h, LPVOID p) {
  Sleep(5);
  auto* s = static_cast<SlowCopy*>(p);
  return s->inner(a, b, c, d, e, f, g, h, s->data);
}

TEST_F(NativeDecisionTest, ACancelDuringALargeCopyStopsItAndRollsBack) {
  writeData("files\\large.bin", std::string(48u << 20, 'x'));
  writeData("files\\small.txt", "s");
  load({{"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"}},
       {{0, {{"files\\small.txt", ""}, {"files\\large.bin", ""}}}});
  // A slow medium: each chunk takes a moment, so the cancel surely arrives in the middle.
  state().copyWithProgress = [](const std::wstring& from, const std::wstring& to, bool move, LPPROGRESS_ROUTINE progress,
                                void* routineData) {
    SlowCopy slow{progress, routineData};
    return chunkedCopy(from, to, move, slowProgress, &slow);
  };
  set("SILENT", "FALSE");        // the wait handles messages, so the page's Cancel can arrive
  set("ABORTEDONERROR", "TRUE");  // no "Setup cancelled" box in a test
  // The user cancels as soon as the large file's bytes start to move.
  mainWindow(engine).startTimer(1, 5, [this] {
    if (toInt64Or(var("NATIVE_PROGRESS"), 0) > (1 << 20)) {
      set("ZORN_IsCancelled", "TRUE");
      mainWindow(engine).stopTimer(1);
    }
  });
  runAll();
  mainWindow(engine).stopTimer(1);
  EXPECT_TRUE(runEnded());
  EXPECT_FALSE(fileExists(target + "large.bin"));
  EXPECT_FALSE(fileExists(target + "small.txt"));
  EXPECT_FALSE(folderExists(target));
  bool rolledBack = false;
  for (const std::string& line : traceLines()) rolledBack |= line == "      <NATIVE ROLLBACK>";
  EXPECT_TRUE(rolledBack);
}

TEST_F(NativeDecisionTest, CopiedBytesMoveTheBarWithinAFile) {
  state().copyWithProgress = chunkedCopy;
  writeData("files\\three.bin", std::string(3u << 20, 'x'));
  load({{"Create Folder", "$TARGET$"},
        {"Install Files", "", "", "$TARGET$", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE", "FALSE"}},
       {{1, {{"files\\three.bin", ""}}}});
  engine.image.totalWeight = 5u << 20;
  runAll();
  EXPECT_EQ(var("NATIVE_PROGRESS"), std::to_string(1024 + (3u << 20)));  // the folder's weight and the bytes
  EXPECT_EQ(var("ZORN_thMax"), std::to_string(5u << 20));
  EXPECT_EQ(var("ZORN_thMin"), "1");
}

}  // namespace
}  // namespace orv::test
