// The background-work protocol in-process under Wine: progress crossing threads, exceptions carried
// back, cancels handled cooperatively or by the watchdogs, the silent wait, and the cancelled step.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "bootstrap/engine.h"
#include "core/text.h"
#include "platform/strings.h"
#include "script/worker.h"
#include "ui/main_window.h"

namespace orv {
namespace {

using Clock = std::chrono::steady_clock;
constexpr UINT_PTR kTestTimer = 1;  // the watchdogs use ids far above

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto [name, value] :
         {std::pair{"ZORN_thProgress", "0"}, {"ZORN_thMax", "100"}, {"ZORN_thMin", "0"}, {"ZORN_thProgressText", ""},
          {"ZORN_IsCancelled", "FALSE"}, {"ZORN_LastDelegateTick", "0"}, {"ZORN_LastActiveTick", "0"},
          {"SILENT", "FALSE"}, {"ABORTONERROR", "TRUE"}, {"ABORTEDONERROR", "FALSE"}, {"WINDOWHANDLE", "0"}})
      engine.vars.setValue(name, value);
    engine.captionTitle = "Worker Test";
  }
  void TearDown() override {
    MSG msg;  // nothing left behind for the next test
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  std::string var(const char* name) const { return engine.vars.getValue(name); }
  void set(const char* name, const char* value) { engine.vars.setValue(name, value); }
  // Cancels from the UI thread, as a page's Cancel button does, once `when` holds.
  void cancelFromUiWhen(std::function<bool()> when) {
    mainWindow(engine).startTimer(kTestTimer, 10, [this, when] {
      if (!when()) return;
      set("ZORN_IsCancelled", "TRUE");
      mainWindow(engine).stopTimer(kTestTimer);
    });
  }

  Engine engine;
};

TEST_F(WorkerTest, ReportProgressWritesOnlyWhatItsArgumentsSay) {
  struct Case {
    const char* text;
    int64_t minimum, maximum, position;
    const char *progress, *maximumAfter, *minimumAfter, *textAfter;
  } cases[] = {
      {"Copying files", 5, 5000000000, 2500000000, "2500000000", "5000000000", "5", "Copying files"},
      {"$IGNORE$", 0, 100, 50, "50", "100", "0", "old"},         // bar moves, text stays
      {"Copying", 0, 0, -1, "7", "9", "1", "Copying"},           // text only
      {"$ZORN$", 3, 4, 2, "7", "9", "1", "old"},                 // heartbeat only
      {"", 0, 0, -1, "7", "9", "1", ""},                         // the reset before an installer run
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    set("ZORN_thProgress", "7");
    set("ZORN_thMax", "9");
    set("ZORN_thMin", "1");
    set("ZORN_thProgressText", "old");
    set("ZORN_LastDelegateTick", "x");
    reportProgress(engine, c.text, c.minimum, c.maximum, c.position);
    EXPECT_EQ(var("ZORN_thProgress"), c.progress);
    EXPECT_EQ(var("ZORN_thMax"), c.maximumAfter);
    EXPECT_EQ(var("ZORN_thMin"), c.minimumAfter);
    EXPECT_EQ(var("ZORN_thProgressText"), c.textAfter);
    int64_t tick = 0;
    EXPECT_TRUE(parseInt64(var("ZORN_LastDelegateTick"), tick));
  }
}

TEST_F(WorkerTest, MainThreadSeesProgressWhileTheWorkerRuns) {
  HANDLE seen = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::string observed;
  // The UI thread keeps handling messages during the wait: its timer reads what the worker reported.
  mainWindow(engine).startTimer(kTestTimer, 10, [&] {
    if (var("ZORN_thProgress") != "5") return;
    observed = var("ZORN_thProgressText") + " " + var("ZORN_thMin") + ".." + var("ZORN_thMax");
    mainWindow(engine).stopTimer(kTestTimer);
    SetEvent(seen);
  });
  bool workerSawItSeen = false;
  const WorkerOutcome outcome = runWorker(engine, WorkerKind::NativeEngine, [&](WorkerContext&) {
    reportProgress(engine, "Copying", 0, 10, 5);
    workerSawItSeen = WaitForSingleObject(seen, 10000) == WAIT_OBJECT_0;
  });
  CloseHandle(seen);
  EXPECT_EQ(outcome, WorkerOutcome::Completed);
  EXPECT_TRUE(workerSawItSeen);
  EXPECT_EQ(observed, "Copying 0..10");
  EXPECT_FALSE(engine.workers.workerActive);
}

TEST_F(WorkerTest, JobExceptionIsRethrownOnTheMainThread) {
  for (const char* silent : {"FALSE", "TRUE"}) {
    SCOPED_TRACE(silent);
    set("SILENT", silent);
    try {
      runWorker(engine, WorkerKind::FindFiles, [](WorkerContext&) { throw std::runtime_error("disk on fire"); });
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "disk on fire");
    }
    EXPECT_FALSE(engine.workers.workerActive);
  }
}

TEST_F(WorkerTest, CooperativeWorkerStopsOnCancel) {
  std::atomic<int> reports{0};
  bool stoppedOnRequest = false;
  cancelFromUiWhen([&] { return reports.load() >= 3; });
  const auto outcome = runWorker(engine, WorkerKind::PlugIn, [&](WorkerContext& context) {
    while (!context.stopRequested()) {
      reportProgress(engine, "Working", 1, 100, ++reports);
      Sleep(5);
    }
    stoppedOnRequest = true;
  });
  EXPECT_EQ(outcome, WorkerOutcome::Cancelled);
  EXPECT_TRUE(stoppedOnRequest);
}

// One run at the real interval: a worker that ignores the stop request and falls silent is ended at the
// first check that finds no report, 5 to 10 seconds after the cancel.
TEST_F(WorkerTest, HeartbeatWatchdogEndsASilentWorkerAfterTheInterval) {
  ASSERT_EQ(engine.workers.watchdogIntervalMs, 5000u);
  std::atomic<bool> running{false};
  set("ZORN_IsCancelled", "TRUE");
  const auto start = Clock::now();
  const auto outcome = runWorker(engine, WorkerKind::NativeEngine, [&](WorkerContext&) {
    reportProgress(engine, "Stuck", 0, 100, 10);
    for (;;) {
      running = true;
      Sleep(20);
    }
  });
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_EQ(outcome, WorkerOutcome::Cancelled);
  EXPECT_GE(waited, 4900);
  EXPECT_LT(waited, 12000);
  running = false;
  Sleep(100);
  EXPECT_FALSE(running.load()) << "the worker still runs";
}

// A worker that ignores the stop request but keeps reporting is never ended, however busy the window
// is: each check looks at the whole interval since the previous one.
TEST_F(WorkerTest, HeartbeatWatchdogSparesAWorkerThatKeepsReporting) {
  engine.workers.watchdogIntervalMs = 200;
  mainWindow(engine).startTimer(kTestTimer, 10, [] {});  // a message every 10 ms
  set("ZORN_IsCancelled", "TRUE");
  bool finished = false;
  const auto outcome = runWorker(engine, WorkerKind::PlugIn, [&](WorkerContext&) {
    for (int i = 0; i < 30; ++i) {  // 1.5 s: seven checks
      reportProgress(engine, "$ZORN$", 0, 0, 0);
      Sleep(50);
    }
    finished = true;
  });
  mainWindow(engine).stopTimer(kTestTimer);
  EXPECT_EQ(outcome, WorkerOutcome::Cancelled);
  EXPECT_TRUE(finished);
}

TEST_F(WorkerTest, ImmediateWatchdogEndsAProgramWaitWithoutAnyCheck) {
  engine.workers.watchdogIntervalMs = 300;
  HANDLE neverSet = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> waitReturned{false};
  for (WorkerKind kind : {WorkerKind::RunProgram, WorkerKind::RunAs}) {
    set("ZORN_IsCancelled", "FALSE");
    cancelFromUiWhen([] { return true; });
    const auto start = Clock::now();
    const auto outcome = runWorker(engine, kind, [&](WorkerContext&) {
      reportProgress(engine, "$ZORN$", 0, 0, 0);  // a report does not save it
      WaitForSingleObject(neverSet, INFINITE);
      waitReturned = true;
    });
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(outcome, WorkerOutcome::Cancelled);
    EXPECT_GE(waited, 290);
    EXPECT_LT(waited, 3000);
  }
  SetEvent(neverSet);
  Sleep(50);
  EXPECT_FALSE(waitReturned.load()) << "the worker was not ended";
  CloseHandle(neverSet);
}

// Workers ended while they hammer the variable store and the heap: the store's lock and the heap must
// stay usable afterwards. The check runs on a helper thread so that a held lock fails the test instead
// of hanging it.
TEST_F(WorkerTest, ForcedEndNeverLeavesTheStoreOrTheHeapLocked) {
  engine.workers.watchdogIntervalMs = 50;
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    set("ZORN_IsCancelled", "TRUE");
    std::atomic<uint64_t> steps{0};
    runWorker(engine, WorkerKind::FindFiles, [&](WorkerContext&) {
      for (;;) {  // never reports: only the store and allocations
        engine.vars.setValue("HAMMER", std::string(64 + steps % 512, 'x'));
        (void)engine.vars.getValue("HAMMER");
        ++steps;
      }
    });
    const uint64_t after = steps.load();
    std::atomic<bool> usable{false};
    std::thread check([&] {
      engine.vars.setValue("AFTER", std::string(1000, 'y'));
      usable = engine.vars.getValue("AFTER").size() == 1000;
    });
    for (int i = 0; i < 200 && !usable; ++i) Sleep(10);
    ASSERT_TRUE(usable.load()) << "a lock stayed held after the forced end";
    check.join();
    EXPECT_EQ(steps.load(), after) << "the worker still runs";
  }
}

TEST_F(WorkerTest, ForcedEndWaitsUntilTheWorkerLeavesItsNoForcedEndScope) {
  engine.workers.watchdogIntervalMs = 50;
  set("ZORN_IsCancelled", "TRUE");
  std::atomic<bool> leftScope{false};
  runWorker(engine, WorkerKind::DirectExtract, [&](WorkerContext&) {
    {
      NoForcedEnd writingSharedList;
      const ULONGLONG until = GetTickCount64() + 800;  // busy, never blocking, past several checks
      while (GetTickCount64() < until) {
      }
      leftScope = true;
    }
    for (;;) Sleep(10);
  });
  EXPECT_TRUE(leftScope.load());
}

TEST_F(WorkerTest, SilentWaitBlocksWithoutHandlingMessages) {
  constexpr UINT kProbe = WM_APP + 77;
  for (const char* silent : {"TRUE", "FALSE"}) {
    SCOPED_TRACE(silent);
    set("SILENT", silent);
    PostThreadMessageW(GetCurrentThreadId(), kProbe, 0, 0);
    runWorker(engine, WorkerKind::CopyMedia, [](WorkerContext&) { Sleep(200); });
    MSG msg;
    const bool stillQueued = PeekMessageW(&msg, nullptr, kProbe, kProbe, PM_REMOVE);
    EXPECT_EQ(stillQueued, isTrueText(silent));
  }
}

// Silent: a pending cancel is looked at only after the worker ended, so no watchdog ends it; questions
// handed to the UI thread still get through.
TEST_F(WorkerTest, SilentWaitLooksAtACancelOnlyAfterTheWorkerEnded) {
  set("SILENT", "TRUE");
  set("ZORN_IsCancelled", "TRUE");
  engine.workers.watchdogIntervalMs = 20;
  const DWORD uiThread = GetCurrentThreadId();
  DWORD askedOn = 0;
  bool finished = false;
  const auto outcome = runWorker(engine, WorkerKind::NativeEngine, [&](WorkerContext& context) {
    runOnMainThread(engine, [&] { askedOn = GetCurrentThreadId(); });
    Sleep(300);
    finished = !context.stopRequested();
  });
  EXPECT_EQ(outcome, WorkerOutcome::Cancelled);
  EXPECT_TRUE(finished);
  EXPECT_EQ(askedOn, uiThread);
}

// Watches the UI thread for a message box, records its texts and closes it, so that a box shown by
// mistake fails the test instead of hanging it.
class MessageBoxWatch {
 public:
  explicit MessageBoxWatch(DWORD uiThread) : uiThread_(uiThread), watcher_([this] { watch(); }) {}
  ~MessageBoxWatch() { stop(); }
  void stop() {
    stop_ = true;
    if (watcher_.joinable()) watcher_.join();
  }
  int shown() const { return shown_.load(); }
  std::string caption, text;

 private:
  void watch() {
    while (!stop_) {
      EnumThreadWindows(uiThread_, &MessageBoxWatch::visit, reinterpret_cast<LPARAM>(this));
      Sleep(20);
    }
  }
  static BOOL CALLBACK visit(HWND window, LPARAM self) {
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, 32);
    if (std::wstring_view(cls) != L"#32770" || !IsWindowVisible(window)) return TRUE;
    auto* watch = reinterpret_cast<MessageBoxWatch*>(self);
    wchar_t buffer[256] = {};
    GetWindowTextW(window, buffer, 256);
    watch->caption = narrow(buffer);
    EnumChildWindows(window, &MessageBoxWatch::visitChild, self);
    ++watch->shown_;
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    Sleep(200);  // let it close before looking again
    return FALSE;
  }
  static BOOL CALLBACK visitChild(HWND child, LPARAM self) {
    wchar_t cls[32] = {}, buffer[256] = {};
    GetClassNameW(child, cls, 32);
    GetWindowTextW(child, buffer, 256);
    if (std::wstring_view(cls) == L"Static" && buffer[0]) reinterpret_cast<MessageBoxWatch*>(self)->text = narrow(buffer);
    return TRUE;
  }

  DWORD uiThread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> shown_{0};
  std::thread watcher_;
};

bool canShowWindows() {
  const HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (probe) DestroyWindow(probe);
  return probe != nullptr;
}

TEST_F(WorkerTest, CancelledStepFollowsAbortOnError) {
  struct Case {
    const char *silent, *abortOnError, *abortedBefore;
    bool endsScript;
    const char* abortedAfter;
    int boxes;
  } cases[] = {
      {"TRUE", "TRUE", "FALSE", true, "FALSE", 0},
      {"TRUE", "FALSE", "FALSE", false, "TRUE", 0},
      {"FALSE", "FALSE", "TRUE", false, "TRUE", 0},  // already aborted: no second message
      {"FALSE", "TRUE", "TRUE", true, "TRUE", 0},
      {"FALSE", "FALSE", "FALSE", false, "TRUE", 1},
      {"FALSE", "TRUE", "FALSE", true, "FALSE", 1},
  };
  // Without a desktop (a display-less Wine) no message box can appear; those rows need one.
  const bool desktop = canShowWindows();
  bool skipped = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.silent) + " " + c.abortOnError + " " + c.abortedBefore);
    if (c.boxes && !desktop) {
      skipped = true;
      continue;
    }
    set("SILENT", c.silent);
    set("ABORTONERROR", c.abortOnError);
    set("ABORTEDONERROR", c.abortedBefore);
    MessageBoxWatch boxes(GetCurrentThreadId());
    EXPECT_EQ(finishCancelledStep(engine, "Cancel at Plug-In Time"), c.endsScript);
    EXPECT_EQ(var("ABORTEDONERROR"), c.abortedAfter);
    boxes.stop();
    EXPECT_EQ(boxes.shown(), c.boxes);
    if (c.boxes) {
      EXPECT_EQ(boxes.caption, engine.caption());
      EXPECT_EQ(boxes.text, "Setup cancelled");
    }
  }
  if (skipped) GTEST_SKIP() << "no desktop: the rows that show the message were not run";
}

TEST_F(WorkerTest, PumpOneMessageHandlesOneMessageUnlessSilent) {
  for (const char* silent : {"FALSE", "TRUE"}) {
    SCOPED_TRACE(silent);
    set("SILENT", silent);
    constexpr UINT kProbe = WM_APP + 78;
    PostThreadMessageW(GetCurrentThreadId(), kProbe, 0, 0);
    PostThreadMessageW(GetCurrentThreadId(), kProbe, 1, 0);
    pumpOneMessage(engine);
    MSG msg;
    int left = 0;
    while (PeekMessageW(&msg, nullptr, kProbe, kProbe, PM_REMOVE)) ++left;
    EXPECT_EQ(left, isTrueText(silent) ? 2 : 1);
  }
  // With nothing queued it returns after a short wait instead of hanging.
  set("SILENT", "FALSE");
  const auto start = Clock::now();
  pumpOneMessage(engine);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
}  // namespace orv
