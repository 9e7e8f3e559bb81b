// Media commands: "Web Media Block" names the web block the following lines install from, and
// "Extract 7Zip Archive" unpacks any archive on demand through the archive library, on the direct
// extraction worker with progress and cancel.
#include <memory>

#include "bootstrap/engine.h"
#include "core/text.h"
#include "engines/native_plan.h"
#include "media/extract_to.h"
#include "media/media_password.h"
#include "media/media_state.h"
#include "media/media_workers.h"
#include "platform/files.h"
#include "platform/redirection.h"
#include "script/command.h"
#include "script/commands.h"
#include "script/interpreter.h"
#include "script/worker.h"

namespace orv {
namespace {

constexpr std::string_view kExtractCancelLabel = "Cancel at Extract-7Zip Time";

std::string dataFolder(const Engine& e) {
  std::string folder = e.vars.getValue("DATADIR");
  if (folder.empty()) folder = e.startup.dataFolder;
  return withTrailingBackslash(folder);
}

void webMediaBlock(CommandContext& c) {
  Engine& e = c.engine();
  WebMedia& web = mediaState(e).current;
  web.blockName = std::string(c.param(1));
  web.urls.clear();
  for (std::string& url : split(replaceAll(c.expanded(2), "\r\n", "\n", false), "\n"))
    if (!trim(url).empty()) web.urls.push_back(trim(url));
  web.archivePath = dataFolder(e) + web.blockName + ".7zip";
  web.password = storedBlockPassword(*e.index, web.blockName);
}

struct DirectExtraction {
  std::string libraryFolder;
  std::string platform;
  std::string archive, target, password;
  int32_t questionAnswer = 4;
  bool fifthArgument = false;
  bool finished = false;
  ExtractOutcome outcome;
};

void runDirectExtraction(Engine& e, WorkerContext& worker, DirectExtraction& job) {
  // Redirection is a per-thread state: the worker that touches the files sets it.
  const FileSystemView view(job.platform);
  const ArchiveLibrary library(job.libraryFolder);
  job.outcome = extractTo(library, view.map(job.archive), job.password, view.map(job.target),
                          extractionProgress(e, worker, {}), job.questionAnswer, job.fifthArgument);
  NoForcedEnd handingOver;
  job.finished = true;
}

void extract7ZipArchive(CommandContext& c) {
  Engine& e = c.engine();
  auto job = std::make_shared<DirectExtraction>();
  job->libraryFolder = e.startup.programFolder;
  job->platform = currentPlatform(e);
  job->archive = c.path(1);
  job->target = withTrailingBackslash(c.path(2));
  job->password = c.expanded(4);
  job->questionAnswer = isTrueText(c.param(5)) ? 4 : 1;
  job->fifthArgument = !isTrueText(c.param(6));
  c.defineIfMissing(CommandContext::variableName(c.param(3)));
  {
    const FileSystemView view(job->platform);
    createFolders(view.map(job->target));
  }
  const WorkerOutcome how = runWorker(e, WorkerKind::DirectExtract,
                                      [&e, job](WorkerContext& worker) { runDirectExtraction(e, worker, *job); });
  std::string result = "SUCCESS";
  if (!job->finished) result = extractFailureText(kArchiveCancelled);  // ended by the watchdog
  else if (!job->outcome.ok) result = job->outcome.error;
  c.setResult(c.param(3), result);
  if (how == WorkerOutcome::Cancelled && finishCancelledStep(e, kExtractCancelLabel)) endScriptRun(e);
}

constexpr CommandEntry kMediaCommands[] = {
    {"Web Media Block", webMediaBlock},
    {"Extract 7Zip Archive", extract7ZipArchive},
};

}  // namespace

std::span<const CommandEntry> mediaCommands() { return kMediaCommands; }

}  // namespace orv
