// The native plan and its undo log: records and their chains, the four files and their line encoding,
// damaged and missing logs, NATIVE_LOGGING redirection, and the deferred queue with its weights.
#include "native_fixture.h"

#include <array>

#include "core/commatext.h"
#include "engines/native_job.h"
#include "engines/undo_log.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace orv::test {
namespace {

class NativeLogTest : public NativeFixture {};

TEST_F(NativeLogTest, LogLinesKeepEveryTextWhole) {
  const char* const texts[] = {"Delete File", "C:\\Program Files\\Prodüct, \"quoted\"\\a b.txt", "日本語\\ファイル",
                               "two\r\nlines", "100% literal", "\xEF\xBB\xBF" "starts like a mark", ""};
  for (const char* text : texts) {
    const std::string encoded = encodeLogLine(text);
    EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_EQ(decodeLogLine(encoded), text);
  }
  // Text the ANSI code page carries is written as plain ANSI, as older logs are.
  EXPECT_EQ(encodeLogLine("C:\\Prodüct"), toCodePage("C:\\Prodüct", CP_ACP));
}

TEST_F(NativeLogTest, RecordsReachTheFourFilesAsTheyAreMade) {
  NativeJob job(engine, nullptr, JobMode::Action, 0);
  const std::string odd = root + "odd, \"name\" 日本\\file.txt";
  job.recordUndo("Create File", odd);
  job.recordUndo("Set Environment", joinCommaText({"-2147483647", "Environment", "PATH", "C:\\a b,c", "1", "FALSE"}));
  job.setPlatform("x64");
  job.recordUndo("Edit INI File", joinCommaText({root + "my file.ini", "Sec, tion", "Key", ""}));
  EXPECT_TRUE(state().pending.empty());  // nothing waits in memory for a flush
  const std::string base = logBase();
  EXPECT_EQ(logLines(0), (std::vector<std::string>{"Delete File", "Delete Environment", "Remove INI Entry"}));
  EXPECT_EQ(logLines(2), (std::vector<std::string>{"1024", "1024", "10240"}));
  EXPECT_EQ(logLines(3), (std::vector<std::string>{"Win32", "Win32", "x64"}));
  const UndoLogContents log = readUndoLog(base, "Win32");
  ASSERT_EQ(log.records.size(), 3u);
  EXPECT_TRUE(log.problem.empty());
  EXPECT_EQ(splitCommaText(log.records[0].data), std::vector<std::string>{odd});
  const std::vector<std::string> nested = splitCommaText(log.records[1].data);
  ASSERT_EQ(nested.size(), 1u);  // a comma text in a comma text
  EXPECT_EQ(splitCommaText(nested[0]),
            (std::vector<std::string>{"-2147483647", "Environment", "PATH", "C:\\a b,c", "1", "FALSE"}));
  // The flush reports the folders that writing the records had to make (a rollback then removes them).
  EXPECT_EQ(flushUndoLog(engine, base), cache.substr(0, cache.size() - 1));
  EXPECT_EQ(flushUndoLog(engine, base), "");
  // Later records are appended.
  job.recordUndo("Create File", root + "second");
  EXPECT_EQ(readUndoLog(base, "Win32").records.size(), 4u);
}

// What a process ended between two writes leaves, and what the next writer makes of it: whole records
// only, every file on the same line, and the new record after them.
TEST_F(NativeLogTest, AJournalCutsWhatAnEndedProcessLeftUnfinished) {
  const std::string base = root + "logs\\product";
  createFolders(root + "logs");
  struct Case {
    const char* when;
    std::array<const char*, 4> files;  // elements, data, weight, bitness
    std::vector<std::string> kinds;    // the whole records left before the new one
    std::vector<int64_t> weights;
  } cases[] = {
      {"in a data line", {"Delete File\r\n", "a\r\nb-cut", "1\r\n", "Win32\r\n"}, {"Delete File"}, {1}},
      {"before the kind line", {"Delete File\r\n", "a\r\nb\r\n", "1\r\n2\r\n", "Win32\r\n"}, {"Delete File"}, {1}},
      {"in the kind line", {"Delete File\r\nDelete Fi", "a\r\nb\r\n", "1\r\n2\r\n", "x64\r\nx64\r\n"}, {"Delete File"}, {1}},
      {"in no line", {"Delete File\r\nDelete Folder\r\n", "a\r\nb\r\n", "1\r\n2\r\n", "x64\r\nx64\r\n"},
       {"Delete File", "Delete Folder"}, {1, 2}},
      {"without weights (an older log)", {"Delete File\r\nDelete File\r\n", "a\r\nb\r\n", "", ""},
       {"Delete File", "Delete File"}, {0, 0}},
      {"before anything", {"", "", "", ""}, {}, {}},
  };
  const UndoRecord added{"Delete Folder", joinCommaText({root + "new"}), 1024, "x64"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.when);
    for (size_t i = 0; i < 4; ++i) writeWholeFile(undoLogFile(base, i), c.files[i]);
    {
      UndoJournal journal(base);
      journal.append(added);
      journal.append(UndoRecord{"Delete File", "withdrawn", 1024, "Win32"});
      EXPECT_TRUE(journal.withdrawLast());
    }
    const UndoLogContents log = readUndoLog(base, "Win32");
    EXPECT_EQ(log.problem, "");
    ASSERT_EQ(log.records.size(), c.kinds.size() + 1);
    for (size_t i = 0; i < c.kinds.size(); ++i) {
      EXPECT_EQ(log.records[i].kind, c.kinds[i]);
      EXPECT_EQ(log.records[i].weight, c.weights[i]);
    }
    EXPECT_EQ(log.records.back().kind, added.kind);
    EXPECT_EQ(log.records.back().data, added.data);
    EXPECT_EQ(log.records.back().weight, added.weight);
    EXPECT_EQ(log.records.back().platform, added.platform);
  }
}

TEST_F(NativeLogTest, RecordsListTheLevelsTheChangeWillCreate) {
  createFolders(root + "a");
  NativeJob job(engine, nullptr, JobMode::Action, 0);
  EXPECT_FALSE(job.recordUndo("Create Folder", root + "a\\"));  // exists: no record
  EXPECT_TRUE(job.recordUndo("Create Folder", root + "a\\b\\c\\"));
  ASSERT_EQ(records().size(), 1u);
  EXPECT_EQ(records()[0].kind, "Delete Folder");
  EXPECT_EQ(splitCommaText(records()[0].data), (std::vector<std::string>{root + "a\\b\\c", root + "a\\b"}));
  EXPECT_EQ(records()[0].weight, 2048);

  RegistryKey::create(HKEY_CURRENT_USER, key);
  EXPECT_TRUE(job.recordUndo("Write Registry", joinCommaText({"-2147483647", key + "\\x\\y\\", "Value"})));
  EXPECT_EQ(records()[1].kind, "Delete Registry");
  EXPECT_EQ(splitCommaText(records()[1].data),
            (std::vector<std::string>{"-2147483647", key + "\\x\\y\\", "Value", key + "\\x\\y", key + "\\x"}));
  EXPECT_EQ(records()[1].weight, 1536);

  set("NATIVE_LOGGING", "false");
  EXPECT_FALSE(job.recordUndo("Create File", root + "x"));
  EXPECT_EQ(records().size(), 2u);
}

TEST_F(NativeLogTest, DamagedAndMissingLogsAreDescribedNotFatal) {
  const std::string base = root + "logs\\product";
  createFolders(root + "logs");
  UndoLogContents none = readUndoLog(base, "Win32");
  EXPECT_TRUE(none.records.empty());
  EXPECT_NE(none.problem.find("There is no undo log"), std::string::npos);

  struct Case {
    const char* elements;
    const char* data;
    const char* weights;  // null: file missing
    const char* bitness;
    size_t records;
    const char* problem;
  } cases[] = {
      {"Delete File\r\nDelete File\r\n", "a\r\nb\r\n", "1024\r\n1024\r\n", "Win32\r\nx64\r\n", 2, nullptr},
      {"Delete File\r\nDelete File\r\nDelete File\r\n", "a\r\nb\r\n", "1024\r\n", "Win32\r\nWin32\r\nWin32\r\n", 2,
       "is damaged: its files hold 3, 2, 1 and 3 lines; 2 records"},
      {"Delete File\r\n", "a\r\n", nullptr, nullptr, 1, "is incomplete"},
      // Bare LF ends; a last line without its end was cut off by an ended writer and is skipped.
      {"Delete File\nDelete File", "a\nb", "junk\r\n\r\n", "\r\n\r\n", 1, "ends in a cut-off line, which is skipped"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.elements);
    deleteUndoLogFiles(base);
    writeWholeFile(undoLogFile(base, 0), c.elements);
    writeWholeFile(undoLogFile(base, 1), c.data);
    if (c.weights) writeWholeFile(undoLogFile(base, 2), c.weights);
    if (c.bitness) writeWholeFile(undoLogFile(base, 3), c.bitness);
    const UndoLogContents log = readUndoLog(base, "x64");
    EXPECT_EQ(log.records.size(), c.records);
    if (c.problem) {
      EXPECT_NE(log.problem.find(c.problem), std::string::npos) << log.problem;
    } else {
      EXPECT_EQ(log.problem, "");
    }
    for (const UndoRecord& r : log.records) EXPECT_FALSE(r.platform.empty());
  }
  // The last case: an unreadable weight counts as 0, a missing platform as the current one.
  EXPECT_EQ(readUndoLog(base, "x64").records[0].weight, 0);
  EXPECT_EQ(readUndoLog(base, "x64").records[0].platform, "x64");
}

TEST_F(NativeLogTest, ADamagedLogIsUndoneAsFarAsItGoesAndTheTraceSaysWhy) {
  set("NATIVE_LOGGING", root + "logs\\product");
  createFolders(root + "logs");
  const std::string base = root + "logs\\product";
  writeData(root + "kept.txt", "kept");
  writeData(root + "gone 1.txt", "x");
  writeData(root + "gone, 2.txt", "x");
  writeWholeFile(undoLogFile(base, 0), "Delete File\r\nDelete File\r\nDelete File\r\n");
  writeWholeFile(undoLogFile(base, 1), encodeLogLine(joinCommaText({root + "gone 1.txt"})) + "\r\n" +
                                           encodeLogLine(joinCommaText({root + "gone, 2.txt"})) + "\r\n");
  writeWholeFile(undoLogFile(base, 2), "1024\r\n1024\r\n1024\r\n");
  writeWholeFile(undoLogFile(base, 3), "Win32\r\n");
  ASSERT_EQ(undoLogBase(engine), base);
  EXPECT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_FALSE(fileExists(root + "gone 1.txt"));
  EXPECT_FALSE(fileExists(root + "gone, 2.txt"));
  EXPECT_TRUE(fileExists(root + "kept.txt"));
  bool described = false;
  for (const std::string& line : traceLines()) described |= line.find("is damaged") != std::string::npos;
  EXPECT_TRUE(described);
  // The replayed records have left the log.
  EXPECT_TRUE(readUndoLog(base, "Win32").records.empty());

  // Junk in every file: unknown kinds are skipped, nothing breaks.
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919) % 256);
  for (size_t i = 0; i < kUndoLogSuffixes.size(); ++i) writeWholeFile(undoLogFile(base, i), junk);
  EXPECT_TRUE(runUndo(engine, UndoMode::Uninstall));
  EXPECT_TRUE(fileExists(root + "kept.txt"));
}

TEST_F(NativeLogTest, NativeLoggingFollowsAVariableThatNamesAUsableLog) {
  load({{"Set Variable", "NATIVE_LOGGING", "$ROOT$redirected\\undo"},
        {"Set Variable", "NATIVE_LOGGING", "$ROOT$half\\undo"},
        {"Set Variable", "NATIVE_LOGGING", "FALSE"}});
  createFolders(root + "redirected");
  createFolders(root + "half");
  writeWholeFile(root + "half\\undo.native.elements.log", "");
  writeWholeFile(root + "half\\undo.native.data.log", "");
  NativeJob job(engine, nullptr, JobMode::Action, 0);
  job.recordUndo("Create File", root + "before.txt");
  const std::string defaultBase = logBase();

  runLine(1);  // pending records go to the log in force until now; four empty files appear
  EXPECT_EQ(var("NATIVE_LOGGING"), root + "redirected\\undo");
  EXPECT_TRUE(undoLogFilesExist(root + "redirected\\undo"));
  EXPECT_EQ(readUndoLog(defaultBase, "Win32").records.size(), 1u);
  EXPECT_EQ(logBase(), root + "redirected\\undo");

  runLine(2);  // only two of the four exist: back to the default place
  EXPECT_EQ(var("NATIVE_LOGGING"), "");
  EXPECT_FALSE(fileExists(root + "half\\undo.native.weight.log"));

  runLine(3);
  EXPECT_EQ(var("NATIVE_LOGGING"), "FALSE");
  EXPECT_FALSE(job.recordUndo("Create File", root + "after.txt"));
}

TEST_F(NativeLogTest, TheDeferredQueueCarriesWeightsAndReplaysUnchanged) {
  writeData(root + "src\\one.bin", std::string(3000, 'a'));
  writeData(root + "src\\sub\\two.bin", std::string(500, 'b'));
  writeData(root + "src\\other.txt", "not matched");
  load({{"Create Folder", "$TARGET$made"},
        {"Write Registry", "0", "1", "$KEY$", "Name", "Value", "TRUE", "FALSE"},
        {"Copy/Move Local Files", "$ROOT$src", "*.bin", "$TARGET$copies", "", "TRUE", "|TRUE"}});
  set("DELAYUNTIL_APPLYCHANGES", "TRUE");
  runAll();
  EXPECT_FALSE(folderExists(target + "made"));
  ASSERT_EQ(state().queue.size(), 3u);
  EXPECT_EQ(state().queue[1].kind, "Write Registry");
  EXPECT_EQ(splitCommaText(state().queue[1].data),
            (std::vector<std::string>{"FALSE", "1", key, "Name", "Value", "STRING"}));
  EXPECT_EQ(state().queueWeight, 1024 + 512 + 3500);
  writeData(root + "src\\three.bin", std::string(10000, 'c'));  // later files do not change the weight
  EXPECT_EQ(state().queueWeight, 1024 + 512 + 3500);

  ASSERT_TRUE(runDeferredActions(engine));
  EXPECT_EQ(state().lastJob.code, 1);
  EXPECT_TRUE(folderExists(target + "made"));
  EXPECT_EQ(RegistryKey::open(HKEY_CURRENT_USER, key)->getString("Name"), "Value");
  EXPECT_EQ(read(target + "copies\\sub\\two.bin"), std::string(500, 'b'));
  EXPECT_FALSE(fileExists(target + "copies\\other.txt"));
  EXPECT_EQ(state().queue.size(), 3u);
}

TEST_F(NativeLogTest, AnInstancesLogIsKeptInMemoryWhileItsFolderGoes) {
  const std::string identKey = "SOFTWARE\\Tessaly\\Orvane\\Ident.Cache\\" + var("PRODUCTCODE");
  RegistryKey::create(HKEY_CURRENT_USER, identKey).setString("", cache + var("REVISIONCODE") + "\\");
  NativeJob job(engine, nullptr, JobMode::Action, 0);
  job.recordUndo("Create File", root + "a file.txt");
  job.recordUndo("Create Folder", root + "new folder");
  EXPECT_TRUE(instanceHasNativeLog(engine));  // the records are in the log as soon as they are made
  flushUndoLog(engine, logBase());
  set("REVISIONCODE", "{6F1C2A10-0000-4000-8000-0000000000FF}");  // another revision's setup
  EXPECT_FALSE(instanceHasNativeLog(engine));
  set("REVISIONCODE", "{6F1C2A10-0000-4000-8000-0000000000A2}");

  const UndoLogContents before = readUndoLog(logBase(), "Win32");
  loadUndoLog(engine);
  ASSERT_TRUE(deleteTree(cache));
  saveUndoLog(engine);
  const UndoLogContents after = readUndoLog(logBase(), "Win32");
  ASSERT_EQ(after.records.size(), before.records.size());
  for (size_t i = 0; i < after.records.size(); ++i) {
    EXPECT_EQ(after.records[i].kind, before.records[i].kind);
    EXPECT_EQ(after.records[i].data, before.records[i].data);
    EXPECT_EQ(after.records[i].weight, before.records[i].weight);
  }
  RegistryKey::deleteTree(HKEY_CURRENT_USER, identKey, RegistryView::Bits32);
}

}  // namespace
}  // namespace orv::test
