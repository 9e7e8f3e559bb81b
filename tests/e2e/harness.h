// End-to-end harness: builds real setups (the engine program with an image appended, a resource archive
// and the archive library beside it) in a fresh folder and runs them as separate processes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/image.h"
#include "support/windows_test.h"

namespace orv::test {

std::string fixture(const std::string& name);  // a file made by tests/fixtures/make-fixtures.sh

struct SetupFolder {
  std::string folder;  // with a trailing backslash
  std::string exe;
};

struct SetupOptions {
  bool appendImage = true;
  std::string resource = "minimal.res";  // fixture name; empty: no resource archive
  bool withLibrary = true;
  std::string exeName = "setup.exe";
};

// A unique empty folder under the temporary folder, removed by the caller when it wishes.
std::string freshFolder(const std::string& tag);
SetupFolder buildSetup(const SetupImage& image, const SetupOptions& options = {});

// An image with the given command lines and (identifier-keyed) parameters: each line is
// {command, params...}; a command starting with "//" is a disabled line.
SetupImage scriptImage(const std::vector<std::vector<std::string>>& lines);

struct RunResult {
  uint32_t exitCode = 0;
  bool timedOut = false;
  std::vector<std::string> trace;  // lines of the phase trace, when /l= was given
};

struct RunOptions {
  uint32_t timeoutMs = 60000;
  std::string tempFolder;  // TEMP and TMP of the setup process; empty: a fresh folder per run
  std::string tracePath;   // read back into RunResult::trace
};

// Runs the setup with the arguments (as one command-line text).
RunResult runSetup(const SetupFolder& setup, const std::string& arguments, RunOptions options = {});

std::vector<std::string> readTrace(const std::string& path);

// Closes a message box with this caption that shows up within the time; returns its text, or empty
// when none appeared.
std::string dismissMessageBox(const std::string& caption, uint32_t waitMs);

}  // namespace orv::test
