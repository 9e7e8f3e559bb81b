// The watchdog seen from the page: a worker that stops reporting after a cancel is ended while the page
// in front keeps answering, and the forced end leaves the variable store usable by every thread.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "bootstrap/engine.h"
#include "core/design/design.h"
#include "platform/files.h"
#include "platform/system.h"
#include "script/worker.h"
#include "ui/binding.h"
#include "ui/dialog_pool.h"
#include "ui/ui_driver.h"

namespace orv::test {
namespace {

bool answers(HWND window) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result) != 0;
}

TEST(WorkerWatchdog, HungWorkerIsEndedWhileThePageAnswers) {
  const std::string folder = tempFolder() + "orv-watchdog-" + std::to_string(GetCurrentProcessId()) + "\\";
  createFolders(folder);
  writeWholeFile(folder + "progress.dfm", design::textToBinary(wizardPage("Progress", "Installing", ""), 1252, true));
  Engine engine;
  SetupImage image;
  image.title = "Watchdog";
  engine.loadImage(image);
  engine.vars.defineVariable("ZORN_IsCancelled", "FALSE", "Test");
  engine.workers.watchdogIntervalMs = 500;
  initDialogs(engine, folder);
  loadDialog(engine, "0", folder + "progress.dfm");
  applyDialogValues(*dialogRuntime(engine)->page("0"));
  showDialog(engine, "0", false);
  const HWND page = dialogRuntime(engine)->page("0")->window;

  // Another thread plays the user: it checks that the page answers while the worker hangs, cancels, and
  // keeps checking until the step is over.
  std::atomic<bool> stepOver{false}, alwaysAnswered{true};
  std::thread user([&] {
    Sleep(300);
    alwaysAnswered = alwaysAnswered && answers(page);
    engine.vars.defineVariable("ZORN_IsCancelled", "TRUE", "Button1Click");  // what Yes to the question does
    while (!stepOver) {
      // The main thread stops answering once the step is over (it waits for this thread then).
      const bool answered = answers(page);
      if (!stepOver) alwaysAnswered = alwaysAnswered && answered;
      Sleep(100);
    }
  });
  const auto start = std::chrono::steady_clock::now();
  const WorkerOutcome outcome = runWorker(engine, WorkerKind::NativeEngine, [&engine](WorkerContext&) {
    reportProgress(engine, "Copying", 0, 100, 10);
    for (;;) Sleep(INFINITE);  // stops reporting and ignores the stop request
  });
  const auto took = std::chrono::steady_clock::now() - start;
  stepOver = true;
  user.join();

  EXPECT_EQ(outcome, WorkerOutcome::Cancelled);
  EXPECT_TRUE(alwaysAnswered);
  EXPECT_LT(took, std::chrono::seconds(10));  // ended at one of the first watchdog checks
  // Nothing the ended thread held stays held: the store and the heap serve another thread at once.
  auto other = std::async(std::launch::async, [&engine] {
    engine.vars.setValue("AFTER", std::string(1000, 'x'));
    return engine.vars.getValue("AFTER").size();
  });
  ASSERT_EQ(other.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(other.get(), 1000u);
  freeDialogs(engine);
  deleteTree(folder);
}

}  // namespace
}  // namespace orv::test
