// An engine in-process with a small script image for the installation engine's tests: unique folders
// under the temporary folder (a data folder with the setup's files, a target, an engine cache) and a
// unique registry key under HKCU\Software\OrvaneTest, all removed afterwards; questions answered from a
// script; snapshots of folder trees and registry subtrees to compare states.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../core/script_image.h"
#include "bootstrap/engine.h"
#include "bootstrap/trace.h"
#include "engines/native_plan.h"
#include "engines/native_state.h"
#include "platform/registry.h"
#include "script/interpreter_state.h"

namespace orv::test {

using Lines = std::vector<std::vector<std::string>>;

// Answers questions from a list (No when it runs out) and remembers what was asked.
class ScriptedQuestions final : public NativeQuestions {
 public:
  Answer ask(QuestionKind kind, const std::string& caption, const std::string& text) override;
  std::string locateSources(const std::string& prompt) override;

  std::deque<Answer> answers;
  std::vector<std::pair<QuestionKind, std::string>> asked;
  std::deque<std::string> sourceFolders;
  int sourcePrompts = 0;
};

// One file of a header's group: its path in the data folder and its second line (sub-folder).
struct GroupFile {
  std::string source;
  std::string second;
};

class NativeFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Loads the script lines; `groups` gives the command header file groups of lines (0-based index).
  void load(const Lines& lines, const std::map<size_t, std::vector<GroupFile>>& groups = {});
  // Takes over another test's folders and registry key (a child process working for it): this test's own
  // fresh ones go, and TearDown must then leave the adopted ones to their owner.
  void adopt(const std::string& otherRoot, const std::string& otherKey);
  // Runs line `line` (1-based) through the registered handler of its command.
  void runLine(size_t line);
  void runAll();
  bool runEnded() const { return engine.interpreter->ended; }

  void set(std::string_view name, std::string_view value) { engine.vars.setValue(name, value); }
  std::string var(std::string_view name) const { return engine.vars.getValue(name); }
  NativeEngineState& state() { return nativeState(engine); }
  std::string logBase() { return undoLogBase(engine); }
  std::vector<std::string> logLines(size_t which);  // lines of one of the four log files
  // The undo records made so far: those in the log (each goes there as it is made) and any the log
  // could not take. forgetRecords drops them all; setRecords leaves exactly these to be undone.
  std::vector<UndoRecord> records();
  void forgetRecords();
  void setRecords(std::vector<UndoRecord> kept);
  std::vector<std::string> traceLines() const;

  // Writes a file into the data folder (or anywhere, for an absolute path).
  void writeData(const std::string& relative, const std::string& content);
  std::string read(const std::string& path) const;

  Engine engine;
  Trace trace;
  std::shared_ptr<ScriptedQuestions> questions = std::make_shared<ScriptedQuestions>();
  std::string root;    // unique folder, with a trailing backslash
  std::string data;    // root + "data\"
  std::string target;  // root + "target\"
  std::string cache;   // root + "cache\" (OVERRIDECACHE)
  std::string key;     // "Software\OrvaneTest\<unique>" under HKCU
  std::string tracePath;
};

// State snapshots.
using TreeSnapshot = std::map<std::string, std::string>;  // relative path -> "D" or attributes + ":" + content
TreeSnapshot snapshotTree(const std::string& folder);
using KeySnapshot = std::map<std::string, std::string>;   // key\value -> type + ":" + bytes (hex); keys as "key\"
KeySnapshot snapshotKey(HKEY root, const std::string& key, RegistryView view);

// A copy of the test's self-registering library with a version resource of the given numbers.
void writeVersionedLibrary(const std::string& path, uint16_t major, uint16_t minor, uint16_t release, uint16_t build);
std::string selfRegLibrary();  // the built library, as Wine sees it
std::string serviceProgram();  // the test's service program, as Wine sees it
void setWriteTime(const std::string& path, int64_t secondsFromNow);

// Copies as the system's CopyFileEx does on Windows: in 1 MB chunks, calling the progress routine after
// each and stopping (leaving the partial target) when it answers PROGRESS_CANCEL. Wine's own copy never
// calls the routine. Without a routine it stands for the plain copy.
BOOL chunkedCopy(const std::wstring& from, const std::wstring& to, bool move, LPPROGRESS_ROUTINE progress, void* data);

// Removes the delayed renames the test scheduled (entries naming a path under `folder`).
void clearPendingRenames(const std::string& folder);
std::vector<std::string> pendingRenames();

}  // namespace orv::test
