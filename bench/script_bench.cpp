// Script speed of the real engine under Wine: builds setups whose script runs a counting loop
// ("While" with "Mathematics" and an "If" whose false branch is skipped) and times whole runs.
//
//   script_bench WIN64-BUILD-FOLDER [iterations (1000000)] [runs (3)]
//
// The build folder must hold src/orvstub.exe, src/orv.lib and fixtures/minimal.res (a win64 build).
//
// Lines per second: the same setup is run with the loop at 0 and at N iterations; the difference of the
// median run times is the time of the extra lines, so start-up and shut-down cancel out. The loop runs
// once in a 50-line script and once in a script of more than 50,000 lines (filler before the loop, a
// 10,000-line branch inside it that every pass skips, and lines after the end), which shows whether
// jumps cost more in a large script.
//
// Start to first line: the time from starting the Wine process to the engine's last trace line before
// the first script line ("    <zorn>"), taken as that trace file's modification time while the script
// loops (the trace is written and closed per line, and nothing else is written until the loop ends).
// It includes Wine's process start with a running wine server, and the few trace writes before it.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/image.h"

extern char** environ;

namespace {

using Lines = std::vector<std::vector<std::string>>;
using Clock = std::chrono::steady_clock;

orv::SetupImage imageOf(const Lines& lines) {
  orv::SetupImage img;
  img.title = "Script Bench";
  img.productCode = "{6F1C2A10-0000-4000-8000-0000000000B1}";
  img.revisionCode = "{6F1C2A10-0000-4000-8000-0000000000B2}";
  img.version = "1.0";
  img.languageDialog = "FALSE";
  for (size_t i = 0; i < lines.size(); ++i) {
    char id[64];
    std::snprintf(id, sizeof id, "{%08zX-0000-4000-8000-000000000000}", i);
    img.commands.push_back(lines[i][0]);
    img.lineIds.push_back(id);
    img.disabled.push_back("");
    img.mediaFolders.push_back("");
    img.sourcePositions.push_back("bench.orv*" + std::to_string(i));
    if (lines[i].size() > 1) {
      img.parameters.push_back(id);
      img.parameters.insert(img.parameters.end(), lines[i].begin() + 1, lines[i].end());
    }
  }
  return img;
}

// The loop: 5 lines per pass (While, Mathematics, If, End, Wend), then a last While; the run's exit code
// is the number of passes.
Lines loopScript(long iterations, size_t fillerBefore, size_t skippedBranch, size_t fillerAfter) {
  Lines lines;
  lines.push_back({"Set Variable", "I", "0"});
  for (size_t i = 0; i < fillerBefore; ++i) lines.push_back({"Comment"});
  lines.push_back({"While", "I", "0", std::to_string(iterations), "TRUE"});
  lines.push_back({"Mathematics", "$I$", "1", "0", "I"});
  lines.push_back({"If", "I", "0", "-1", "FALSE"});
  for (size_t i = 0; i < skippedBranch; ++i) lines.push_back({"Set Variable", "SKIPPED", std::to_string(i)});
  lines.push_back({"End"});
  lines.push_back({"Wend"});
  lines.push_back({"Terminate with Exit Code", "$I$"});
  for (size_t i = 0; i < fillerAfter; ++i) lines.push_back({"Set Variable", "AFTER", std::to_string(i)});
  return lines;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string winePrefix() {
  if (const char* p = std::getenv("ORV_WINEPREFIX")) return p;
  return std::string(std::getenv("HOME") ? std::getenv("HOME") : "/root") + "/.cache/orvane/wineprefix";
}

struct Setup {
  std::string folder;  // Linux path with a trailing slash
  std::string exe;
};

Setup buildSetup(const std::string& build, const std::string& name, const orv::SetupImage& image) {
  Setup s;
  s.folder = "/tmp/orv-script-bench/" + name + "/";
  std::system(("rm -rf '" + s.folder + "' && mkdir -p '" + s.folder + "'").c_str());
  s.exe = s.folder + "setup.exe";
  writeFile(s.exe, readFile(build + "/src/orvstub.exe") + orv::writeImage(image));
  writeFile(s.folder + "setup.res", readFile(build + "/fixtures/minimal.res"));
  writeFile(s.folder + "orv.lib", readFile(build + "/src/orv.lib"));
  return s;
}

pid_t startWine(const Setup& s, const std::vector<std::string>& arguments) {
  const std::string prefix = "WINEPREFIX=" + winePrefix();
  std::vector<std::string> env = {prefix, "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="};
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    if (v.rfind("WINEPREFIX=", 0) && v.rfind("WINEDEBUG=", 0) && v.rfind("WINEDLLOVERRIDES=", 0)) env.push_back(v);
  }
  std::vector<std::string> args = {"/usr/lib/wine/wine64", s.exe};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  for (auto& e : env) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0)
    throw std::runtime_error("cannot start wine64");
  return pid;
}

int waitExit(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Seconds of one silent run; checks the loop ran as often as asked (the exit code's low byte, which is
// all a Linux parent sees of it).
double timedRun(const Setup& s, long iterations) {
  const auto start = Clock::now();
  const int code = waitExit(startWine(s, {"/s"}));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (code != int(iterations & 0xFF)) throw std::runtime_error("unexpected exit code " + std::to_string(code));
  return seconds;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double medianRun(const Setup& s, long iterations, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) times.push_back(timedRun(s, iterations));
  return median(times);
}

struct LoopFigures {
  size_t scriptLines;
  double linesPerSecond;
  double loopSeconds;
};

LoopFigures measureLoop(const std::string& build, const char* name, long iterations, int runs, size_t before,
                        size_t branch, size_t after) {
  const Lines loop = loopScript(iterations, before, branch, after);
  const Setup empty = buildSetup(build, std::string(name) + "-0", imageOf(loopScript(0, before, branch, after)));
  const Setup full = buildSetup(build, std::string(name) + "-n", imageOf(loop));
  const double base = medianRun(empty, 0, runs);
  const double total = medianRun(full, iterations, runs);
  const double lines = 5.0 * double(iterations);
  return {loop.size(), lines / (total - base), total - base};
}

// Seconds from starting the process to the trace line written just before the first script line.
double startToFirstLine(const std::string& build, int runs) {
  const Setup s = buildSetup(build, "first-line", imageOf(loopScript(3000000, 0, 0, 0)));
  const std::string trace = s.folder + "trace.log";
  const std::string marker = "    <zorn>\r\n";
  std::u16string wideMarker(marker.begin(), marker.end());
  const std::string markerBytes(reinterpret_cast<const char*>(wideMarker.data()), wideMarker.size() * 2);
  std::vector<double> samples;
  for (int run = 0; run < runs; ++run) {
    std::remove(trace.c_str());
    timespec started{};
    clock_gettime(CLOCK_REALTIME, &started);
    const pid_t pid = startWine(s, {"/s", "/l=Z:" + trace});
    double sample = -1;
    for (int polls = 0; polls < 60000 && sample < 0; ++polls) {
      const std::string bytes = readFile(trace);
      if (bytes.size() >= markerBytes.size() && bytes.compare(bytes.size() - markerBytes.size(), markerBytes.size(), markerBytes) == 0) {
        struct stat st {};
        if (stat(trace.c_str(), &st) == 0)
          sample = double(st.st_mtim.tv_sec - started.tv_sec) + double(st.st_mtim.tv_nsec - started.tv_nsec) / 1e9;
      }
      if (sample < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, SIGKILL);
    waitExit(pid);
    if (sample < 0) throw std::runtime_error("the script never started");
    samples.push_back(sample);
  }
  return median(samples);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s WIN64-BUILD-FOLDER [iterations] [runs]\n", argv[0]);
    return 2;
  }
  const std::string build = argv[1];
  const long iterations = argc > 2 ? std::atol(argv[2]) : 1000000;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  try {
    // A running wine server keeps process starts short, as in the tests.
    std::system(("WINEPREFIX='" + winePrefix() + "' /usr/lib/wine/wineserver -p 120 >/dev/null 2>&1").c_str());
    timedRun(buildSetup(build, "warm-up", imageOf(loopScript(0, 0, 0, 0))), 0);

    const LoopFigures small = measureLoop(build, "small", iterations, runs, 0, 10, 30);
    const LoopFigures large = measureLoop(build, "large", iterations, runs, 20000, 10000, 20000);
    std::printf("loop of %ld passes (%ld lines), median of %d runs:\n", iterations, 5 * iterations, runs);
    std::printf("  %6zu-line script: %.2f s, %.0f lines/s\n", small.scriptLines, small.loopSeconds, small.linesPerSecond);
    std::printf("  %6zu-line script: %.2f s, %.0f lines/s\n", large.scriptLines, large.loopSeconds, large.linesPerSecond);
    std::printf("process start to first script line (median of %d): %.1f ms\n", runs * 2,
                startToFirstLine(build, runs * 2) * 1000);
    // For scale: a whole run of the bare engine program, which stops at once for want of an image.
    Setup bare = buildSetup(build, "bare", orv::SetupImage{});
    writeFile(bare.exe, readFile(build + "/src/orvstub.exe"));
    std::vector<double> bareTimes;
    for (int i = 0; i < runs * 2; ++i) {
      const auto start = Clock::now();
      if (waitExit(startWine(bare, {"/s"})) != 13) throw std::runtime_error("the bare program did not end with 13");
      bareTimes.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::printf("whole run of the bare program without an image (exit 13), for scale: %.1f ms\n",
                median(bareTimes) * 1000);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "script_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
