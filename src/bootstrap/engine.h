// The engine context: everything one setup run shares, created by the main program and passed
// explicitly to every subsystem. Subsystems keep their own state in the members named for them.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/image.h"
#include "core/instance_data.h"
#include "core/mathematics.h"
#include "core/variables.h"
#include "script/dialog.h"
#include "script/worker.h"

namespace orv {

class Trace;
struct InterpreterState;
class MainWindow;
struct NativeEngineState;
struct MaintenanceState;
struct MediaState;
struct DialogRuntime;

// What the main program learns at start (folders always end with a backslash).
struct StartupState {
  std::string programPath;
  std::string programFolder;
  std::string programBaseName;
  std::string tempFolder;
  std::string supportFolder;
  std::string resourceArchivePath;
  std::string dataFolder;
  std::string rawCommandLine;
  bool silent = false;
  bool noSplash = false;  // the "update"/"updatesetup" switches
  std::string logPath;
  std::string policyPath;
  std::string selfExtractorPath;
  std::string cacheOverride;
  std::vector<std::pair<std::string, std::string>> assignments;  // upper-cased name, value
  uint64_t stubSize = 0;
};

struct Engine {
  StartupState startup;
  VariableStore vars;
  SetupImage image;
  std::unique_ptr<ImageIndex> index;  // built once the image is read
  Trace* trace = nullptr;             // phase trace (never null once the run starts)
  int exitCode = 0;
  bool terminateAtEnd = false;        // single-instance refusal: end by immediate termination
  std::string msiPath;                // support folder + base name + ".msi"

  // Setup caption: title and logo-off flag are refreshed from TITLE and ZORNLOGO before every line.
  std::string captionTitle;
  bool logoOff = false;
  std::string caption() const;

  // Subsystem state.
  std::shared_ptr<InterpreterState> interpreter;
  // Shows a wizard page for "Display Dialog"; until the page runtime sets it, every page answers as in
  // a silent run (Next when modal).
  DialogPresenter showDialog;
  // The wizard page runtime (ui/dialog_pool.h): the preloaded pages, created at start-up.
  std::shared_ptr<DialogRuntime> dialogs;
  // Background work: the wait loop's and the watchdogs' state (script/worker.cpp).
  WorkerProtocolState workers;
  // The hidden main window (ui/main_window.h), created on first use on the UI thread.
  std::shared_ptr<MainWindow> hiddenMainWindow;
  // The native installation engine: deferred queue, pending undo records, platform text
  // (engines/native_state.h), created on first use.
  std::shared_ptr<NativeEngineState> native;
  // The component lists (names, states, sizes ...), kept with the instance data for maintenance runs.
  ComponentLists components;
  // Engine cache and maintenance registration (engines/maintenance.h), created on first use.
  std::shared_ptr<MaintenanceState> maintenance;
  // Media blocks (media/media_state.h): the current web media and the run's download settings, created
  // on first use.
  std::shared_ptr<MediaState> media;

  // The "Mathematics" pseudo-random generator (all 0 at start).
  RandomGenerator random;
  // Settings "Set Variable" hands to the subsystems that read them later: the web download time-out in
  // seconds (ZORN_TIMEOUT), and the variables saved with the selections for maintenance runs.
  int32_t downloadTimeoutSeconds = 10;
  std::vector<std::string> persistentVariables;

  void loadImage(SetupImage img) {
    image = std::move(img);
    index = std::make_unique<ImageIndex>(image);
  }
};

}  // namespace orv
