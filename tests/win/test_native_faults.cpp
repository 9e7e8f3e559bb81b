// Faults in the middle of a deferred install: the engine's process ended outright (a child process runs
// the install and is killed once its undo log shows progress), and a disk that fills up during a copy.
// Either way the undo brings back exactly what was there before: nothing the machine had is lost,
// nothing the install made is left.
#include "native_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/text.h"
#include "engines/undo_log.h"
#include "platform/file_info.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/strings.h"
#include "script/interpreter_state.h"

namespace orv::test {
namespace {

constexpr const char* kRootVariable = "ORV_FAULT_ROOT";
constexpr const char* kKeyVariable = "ORV_FAULT_KEY";
constexpr const char* kChildTest = "NativeFaultChild.DISABLED_InstallsUntilEnded";
constexpr UINT kKilledCode = 0xDEAD;

// Content that is neither all alike nor all random.
std::string fileContent(size_t index, size_t size) {
  std::string bytes(size, '\0');
  uint32_t x = static_cast<uint32_t>(index) * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = (i / 4096) % 2 ? static_cast<char>('a' + i % 26) : static_cast<char>(x >> 24);
  }
  return bytes;
}

// What differs between two snapshots, for a failure message: entries lost (or changed) and entries left.
std::string difference(const std::map<std::string, std::string>& before, const std::map<std::string, std::string>& after) {
  std::string lost, left;
  for (const auto& [name, value] : before) {
    const auto found = after.find(name);
    if (found == after.end() || found->second != value) lost += "\n  " + name;
  }
  for (const auto& [name, value] : after)
    if (!before.count(name)) left += "\n  " + name;
  return "lost or changed:" + (lost.empty() ? std::string(" none") : lost) +
         "\nleft behind:" + (left.empty() ? std::string(" none") : left);
}

// The install both the test and its child process set up: folders, registry values in a key that
// exists and in keys that do not, and two large groups of files into a target that already holds files
// (one with the name of an installed file, kept by NATIVE_OVERWRITE "NEVER").
class NativeFaultTest : public NativeFixture {
 protected:
  static constexpr size_t kFilesPerGroup = 120;

  static std::string sourceOf(size_t i) { return "files\\" + std::to_string(i) + ".bin"; }
  static size_t sizeOf(size_t i) { return i % 10 == 5 ? (2u << 20) : 16384 + (i * 7919) % 49152; }

  void writeInstallData() {
    for (size_t i = 0; i < 2 * kFilesPerGroup; ++i) writeData(sourceOf(i), fileContent(i, sizeOf(i)));
    writeData("files\\existing.txt", "the install's version");
  }

  void queueInstall() {
    std::vector<GroupFile> first{{"files\\existing.txt", ""}}, second;
    const char* const subfolders[] = {"", "a", "b\\c", "keep"};
    for (size_t i = 0; i < kFilesPerGroup; ++i) {
      first.push_back({sourceOf(i), subfolders[i % 4]});
      second.push_back({sourceOf(kFilesPerGroup + i), subfolders[i % 3]});
    }
    const std::vector<std::string> files = {"Install Files", "", "", "", "FALSE", "FALSE", "FALSE", "FALSE",
                                            "", "FALSE", "FALSE", "FALSE", "FALSE"};
    std::vector<std::string> intoTarget = files, intoMore = files;
    intoTarget[3] = "$TARGET$";
    intoMore[3] = "$TARGET$more";
    load({{"Create Folder", "$TARGET$made\\deep"},
          {"Write Registry", "0", "1", "$KEY$", "added", "1", "TRUE", "FALSE"},
          {"Write Registry", "0", "1", "$KEY$\\new\\deeper", "value", "2", "TRUE", "FALSE"},
          intoTarget,
          {"Write Registry", "0", "1", "$KEY$\\pre", "added", "3", "TRUE", "FALSE"},
          intoMore,
          {"Write Registry", "0", "1", "$KEY$\\late", "value", "4", "TRUE", "FALSE"}},
         {{3, first}, {5, second}});
    set("DELAYUNTIL_APPLYCHANGES", "TRUE");
    set("NATIVE_OVERWRITE", "NEVER");
    runAll();
  }

  // The machine before the install, made afresh for each case.
  void makeExistingState() {
    deleteTree(target);
    RegistryKey::deleteTree(HKEY_CURRENT_USER, key, RegistryView::Bits32);
    writeData(target + "existing.txt", "the user's own");
    writeData(target + "keep\\mine.txt", "mine");
    createFolders(target + "empty folder");
    RegistryKey::create(HKEY_CURRENT_USER, key).setString("pre", "existing");
    RegistryKey::create(HKEY_CURRENT_USER, key + "\\pre\\sub").setString("", "default");
  }

  TreeSnapshot tree() const { return snapshotTree(target); }
  KeySnapshot keys() const { return snapshotKey(HKEY_CURRENT_USER, key, RegistryView::Bits32); }
};

// The child process: queues the install and replays it until it is ended.
class NativeFaultChild : public NativeFaultTest {
 protected:
  void TearDown() override {}  // the folders and the key belong to the test that started this process
};

TEST_F(NativeFaultChild, DISABLED_InstallsUntilEnded) {
  const char* adoptedRoot = std::getenv(kRootVariable);
  const char* adoptedKey = std::getenv(kKeyVariable);
  ASSERT_TRUE(adoptedRoot && adoptedKey);
  adopt(adoptedRoot, adoptedKey);
  queueInstall();
  EXPECT_TRUE(runDeferredActions(engine));
}

// Whole lines of the undo log's kind file: the records that count.
size_t committedRecords(const std::string& base) {
  std::string bytes;
  if (!readWholeFile(undoLogFile(base, 0), bytes)) return 0;
  size_t lines = 0;
  for (char c : bytes) lines += c == '\n';
  return lines;
}

struct Child {
  UniqueHandle process;
};

Child startChild(const std::string& root, const std::string& key) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(self) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" + widen(kChildTest);
  SetEnvironmentVariableW(widen(kRootVariable).c_str(), widen(root).c_str());
  SetEnvironmentVariableW(widen(kKeyVariable).c_str(), widen(key).c_str());
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  UniqueHandle nul = ownFileHandle(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               &inherit, OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = si.hStdOutput = si.hStdError = nul.get();
  PROCESS_INFORMATION pi{};
  Child child;
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    child.process.reset(pi.hProcess);
  }
  SetEnvironmentVariableW(widen(kRootVariable).c_str(), nullptr);
  SetEnvironmentVariableW(widen(kKeyVariable).c_str(), nullptr);
  return child;
}

TEST_F(NativeFaultTest, AnInstallEndedAtAnyMomentIsUndoneFromTheLogItLeft) {
  writeInstallData();
  // Kill points, as the number of records the log shows: among the first registry values, early and
  // late in the first group of files, in the second group.
  for (const size_t killAt : {size_t(2), size_t(20), size_t(110), size_t(200)}) {
    SCOPED_TRACE("killed once the log shows " + std::to_string(killAt) + " records");
    makeExistingState();
    deleteTree(cache);
    const TreeSnapshot treeBefore = tree();
    const KeySnapshot keysBefore = keys();

    Child child = startChild(root, key);
    ASSERT_TRUE(child.process);
    const std::string base = logBase();
    const ULONGLONG deadline = GetTickCount64() + 60000;
    bool stillRunning = true;
    while (committedRecords(base) < killAt && GetTickCount64() < deadline)
      if (WaitForSingleObject(child.process.get(), 0) == WAIT_OBJECT_0) {
        stillRunning = false;
        break;
      }
    stillRunning = stillRunning && WaitForSingleObject(child.process.get(), 0) == WAIT_TIMEOUT;
    ASSERT_TRUE(stillRunning) << "the install ended (or never started) before the log showed " << killAt << " records";
    ASSERT_TRUE(TerminateProcess(child.process.get(), kKilledCode));
    WaitForSingleObject(child.process.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child.process.get(), &code);
    EXPECT_EQ(code, kKilledCode);

    // What the kill left: a log of whole records at least as long as what was seen, and a machine
    // part-way through the install.
    const UndoLogContents left = readUndoLog(base, "Win32");
    EXPECT_GE(left.records.size(), killAt);
    const TreeSnapshot treeKilled = tree();
    const KeySnapshot keysKilled = keys();
    const size_t filesIn = treeKilled.size() - treeBefore.size(), keysIn = keysKilled.size() - keysBefore.size();

    ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
    const TreeSnapshot treeAfter = tree();
    const KeySnapshot keysAfter = keys();
    EXPECT_EQ(treeAfter, treeBefore) << difference(treeBefore, treeAfter);
    EXPECT_EQ(keysAfter, keysBefore) << difference(keysBefore, keysAfter);
    std::printf("[ killed   ] after %zu records (%zu in the log%s): %zu files and folders, %zu registry entries "
                "in place; after the uninstall %zu and %zu differ from before\n",
                killAt, left.records.size(), left.problem.empty() ? "" : ", its end cut", filesIn, keysIn,
                treeAfter == treeBefore ? size_t(0) : treeAfter.size(), keysAfter == keysBefore ? size_t(0) : keysAfter.size());
  }
}

// A volume with little free space, at the engine's copy routine: writes go through in 64 KB chunks
// (reporting each) until the space is used up; the copy then fails with ERROR_DISK_FULL and leaves the
// torn target behind, as a restartable copy does.
struct FullDisk {
  int64_t freeBytes = 0;

  BOOL copy(const std::wstring& from, const std::wstring& to, bool move, LPPROGRESS_ROUTINE progress, void* data) {
    std::string bytes;
    if (!readWholeFile(narrow(from), bytes)) return FALSE;
    UniqueHandle out = ownFileHandle(CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!out) return FALSE;
    LARGE_INTEGER total{}, done{}, zero{};
    total.QuadPart = static_cast<LONGLONG>(bytes.size());
    for (size_t at = 0; at < bytes.size();) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 65536));
      const DWORD room = static_cast<DWORD>(std::clamp<int64_t>(freeBytes, 0, chunk));
      DWORD put = 0;
      if (room && !WriteFile(out.get(), bytes.data() + at, room, &put, nullptr)) return FALSE;
      freeBytes -= put;
      at += put;
      done.QuadPart = static_cast<LONGLONG>(at);
      if (put < chunk) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
      }
      if (progress &&
          progress(total, done, zero, zero, 1, CALLBACK_CHUNK_FINISHED, nullptr, out.get(), data) == PROGRESS_CANCEL) {
        SetLastError(ERROR_REQUEST_ABORTED);
        return FALSE;
      }
    }
    out.reset();
    return move ? DeleteFileW(from.c_str()) : TRUE;
  }
};

// Answers every question alike; a positive answer can make room on the disk first (the user deleted
// something before choosing to try again).
class DiskQuestions final : public NativeQuestions {
 public:
  DiskQuestions(Answer answer, std::shared_ptr<FullDisk> disk, int64_t roomOnRetry)
      : answer_(answer), disk_(std::move(disk)), roomOnRetry_(roomOnRetry) {}
  Answer ask(QuestionKind, const std::string&, const std::string& text) override {
    asked.push_back(text);
    if (answer_ == Answer::Yes) disk_->freeBytes += roomOnRetry_;
    return answer_;
  }
  std::string locateSources(const std::string&) override { return {}; }
  std::vector<std::string> asked;

 private:
  Answer answer_;
  std::shared_ptr<FullDisk> disk_;
  int64_t roomOnRetry_;
};

TEST_F(NativeFaultTest, AFullDiskFailsTheCopyWithTheSystemsMessageAndNothingTornStays) {
  constexpr size_t kFiles = 6, kSize = 256 * 1024;
  std::vector<GroupFile> group;
  for (size_t i = 0; i < kFiles; ++i) {
    writeData(sourceOf(i), fileContent(i, kSize));
    group.push_back({sourceOf(i), i % 2 ? "sub" : ""});
  }
  const std::string full = systemErrorText(ERROR_DISK_FULL);
  struct Case {
    const char* name;
    const char* nativeError;  // "PROMPT": the question is asked
    Answer answer;
    bool completes;
    size_t filesInstalled;  // whole files in place after the run
  } cases[] = {
      {"cancel: the run fails and is rolled back", "PROMPT", Answer::Cancel, false, 0},
      {"try again once there is room", "PROMPT", Answer::Yes, true, kFiles},
      {"ignore: the files that fit are in place", "IGNORE", Answer::No, true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    makeExistingState();
    deleteTree(cache);
    const TreeSnapshot treeBefore = tree();
    const KeySnapshot keysBefore = keys();
    auto disk = std::make_shared<FullDisk>();
    disk->freeBytes = static_cast<int64_t>(2 * kSize + kSize / 2);  // two files and half of the third
    state().copyWithProgress = [disk](const std::wstring& from, const std::wstring& to, bool move,
                                      LPPROGRESS_ROUTINE progress, void* routineData) { return disk->copy(from, to, move, progress, routineData); };
    auto diskQuestions = std::make_shared<DiskQuestions>(c.answer, disk, static_cast<int64_t>(kFiles * kSize));
    state().questions = diskQuestions;
    set("SILENT", "FALSE");
    set("ABORTEDONERROR", "TRUE");  // no "Setup cancelled" box in a test
    set("NATIVE_ERROR", c.nativeError);
    set("ZORN_IsCancelled", "FALSE");
    engine.interpreter->ended = false;
    load({{"Write Registry", "0", "1", "$KEY$\\installed", "value", "1", "TRUE", "FALSE"},
          {"Install Files", "", "", "$TARGET$disk", "FALSE", "FALSE", "FALSE", "FALSE", "", "FALSE", "FALSE", "FALSE",
           "FALSE"}},
         {{1, group}});
    set("DELAYUNTIL_APPLYCHANGES", "TRUE");
    state().queue.clear();
    state().queueWeight = 0;
    runAll();
    EXPECT_EQ(runDeferredActions(engine), c.completes);
    EXPECT_EQ(state().lastJob.code, c.completes ? 1 : 0);

    // The error names the system's reason and the file, in the question and in the trace.
    const std::string subject = target + "disk\\" + fileNameOf(sourceOf(2));
    bool traced = false;
    for (const std::string& line : traceLines()) traced |= line == "          < " + full + "\r\r" + subject + " >";
    EXPECT_TRUE(traced);
    if (std::string(c.nativeError) == "PROMPT") {
      ASSERT_FALSE(diskQuestions->asked.empty());
      EXPECT_EQ(diskQuestions->asked[0], full + "\r\r" + subject + "\r\rWould you like to try again?");
    }
    // Every file in place is whole; a torn one never stays.
    size_t whole = 0;
    for (size_t i = 0; i < kFiles; ++i) {
      const std::string placed = target + "disk\\" + (i % 2 ? "sub\\" : "") + fileNameOf(sourceOf(i));
      if (!fileExists(placed)) continue;
      EXPECT_EQ(read(placed), fileContent(i, kSize)) << placed;
      ++whole;
    }
    EXPECT_EQ(whole, c.filesInstalled);

    if (c.completes) {
      ASSERT_TRUE(runUndo(engine, UndoMode::Uninstall));
    }
    EXPECT_EQ(tree(), treeBefore) << difference(treeBefore, tree());
    EXPECT_EQ(keys(), keysBefore) << difference(keysBefore, keys());
  }
}

}  // namespace
}  // namespace orv::test
