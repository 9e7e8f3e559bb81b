#include "bootstrap/startup.h"

#include <windows.h>
#include <shellapi.h>

#include <exception>
#include <optional>

#include "bootstrap/engine.h"
#include "bootstrap/engine_cache.h"
#include "bootstrap/startup_windows.h"
#include "bootstrap/trace.h"
#include "core/commandline.h"
#include "core/pe.h"
#include "core/text.h"
#include "media/archive_library.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "platform/system.h"
#include "script/interpreter.h"
#include "ui/dialog_pool.h"

namespace orv {
namespace {

constexpr char kPreparingMessage[] =
    "Orvane is preparing the Orvane Wizard which will install this application. Please wait.";

// Registers the program as a host application on Windows 7 and later, and keeps the compatibility
// assistant quiet on Vista. Nothing here may stop the setup.
void applyCompatibilitySettings(const StartupState& s) {
  try {
    const OsVersion os = osVersion();
    if (os.major > 6 || (os.major == 6 && os.minor != 0)) {
      RegistryKey key = RegistryKey::create(HKEY_CLASSES_ROOT, "Applications\\" + fileNameOf(s.programPath));
      key.setString("IsHostApp", "");
    } else if (os.major == 6 && os.minor == 0) {
      RegistryKey key = RegistryKey::create(
          HKEY_CURRENT_USER, "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Persisted");
      key.setDword(s.programPath, 32);
    }
  } catch (...) {
  }
}

std::vector<std::string> processArguments() {
  std::vector<std::string> args;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return args;
  for (int i = 1; i < argc; ++i) args.push_back(narrow(argv[i]));
  LocalFree(argv);
  return args;
}

// temporary folder + "orv" + N, N counting from 1; creating the folder is the claim, so two setups
// starting together never share one.
std::string createSupportFolder(const std::string& temp) {
  for (unsigned n = 1; n < 100000; ++n) {
    const std::string folder = temp + "orv" + std::to_string(n) + "\\";
    if (CreateDirectoryW(widen(folder).c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  throw std::runtime_error("Cannot create a support folder in " + temp);
}

class Startup {
 public:
  explicit Startup(Engine& engine) : e_(engine), s_(engine.startup) { e_.trace = &trace_; }

  int run() {
    applyCompatibilitySettings(locate());
    s_.tempFolder = tempFolder();
    createFolders(s_.tempFolder);
    runtimeMessages_ = ArchiveLibrary::appendedMessages(s_.programFolder);
    s_.resourceArchivePath = s_.programFolder + s_.programBaseName + ".res";
    parseArguments();
    trace_.line("<Orvane>");
    trace_.line("    <SupportDir>");
    s_.supportFolder = createSupportFolder(s_.tempFolder);
    trace_.line("    </SupportDir>");
    trace_.line("  <SetupSplash>");
    if (!s_.silent && !s_.noSplash)
      windows_.show(s_.programFolder + "setup.bmp", s_.supportFolder, e_.caption(), kPreparingMessage);

    std::optional<int> early;
    try {
      early = prepareAndRun();
    } catch (const std::exception& ex) {
      reportRuntimeError(ex.what());
    } catch (...) {
      reportRuntimeError("unknown error");
    }
    if (early) return *early;  // 13, 14, 15 end here and leave the support folder in place
    removeSupportFolder();
    if (e_.terminateAtEnd) TerminateProcess(GetCurrentProcess(), 0);
    return e_.exitCode;
  }

 private:
  const StartupState& locate() {
    s_.programPath = moduleFileName();
    s_.programFolder = folderOf(s_.programPath);
    s_.programBaseName = withoutExtension(fileNameOf(s_.programPath));
    return s_;
  }

  void parseArguments() {
    s_.rawCommandLine = rawCommandLine(narrow(GetCommandLineW()));
    const CommandLine cl = parseCommandLine(processArguments());
    s_.silent = cl.silent;
    s_.noSplash = cl.noSplash;
    s_.logPath = cl.logPath;
    s_.policyPath = cl.policyPath;
    s_.selfExtractorPath = cl.selfExtractorPath;
    s_.cacheOverride = cl.cacheOverride;
    s_.assignments = cl.assignments;
    trace_.setPath(s_.logPath);
  }

  // Steps from the stub size to the end of the script run. Returns an exit code when the run ends early.
  std::optional<int> prepareAndRun() {
    trace_.line("    <StubSize>");
    std::string image;
    if (!readImageBytes(image)) return failEarly("For internal use only", kExitNoImage);
    trace_.line("    </StubSize>");
    trace_.line("    <StubData>");
    trace_.line("    </StubData>");
    trace_.line("    <GlobalLists>");
    e_.loadImage(readImage(image));
    image.clear();
    trace_.line("    </GlobalLists>");

    trace_.line("    <ExtractArchive>");
    if (!fileExists(s_.resourceArchivePath)) return failEarly("Setup resource not found", kExitNoResources);
    const ArchiveLibrary library(s_.programFolder);
    if (!library.extract(s_.resourceArchivePath, s_.supportFolder).ok)
      return failEarly("Setup resource decompression failure", kExitBadResources);
    trace_.line("    </ExtractArchive>");
    windows_.reloadPicture(s_.supportFolder + "orvane.png");

    trace_.line("    <ResourcePath>");
    copyBesideProgram(".msi");
    copyBesideProgram(".msp");
    trace_.line("    </ResourcePath>");
    s_.dataFolder = s_.programFolder + "data\\";
    e_.msiPath = s_.supportFolder + s_.programBaseName + ".msi";

    preloadDialogs();
    windows_.destroy();
    trace_.line("  </SetupSplash>");

    trace_.line("  <RunScript>");
    try {
      runScript(e_);
    } catch (...) {
      finishEngineCache(e_);  // the cache work runs even then; the error is reported after it
      throw;
    }
    finishEngineCache(e_);
    trace_.line("  </RunScript>");
    trace_.line("  <Free>");
    e_.index.reset();
    e_.image = SetupImage{};
    trace_.line("  </Free>");
    return std::nullopt;
  }

  // The image is whatever follows the program's own image in its file.
  bool readImageBytes(std::string& image) {
    const auto* base = reinterpret_cast<const char*>(GetModuleHandleW(nullptr));
    const auto end = peImageEnd(std::string_view(base, 4096));
    if (!end) throw std::runtime_error("The program file's headers cannot be read.");
    s_.stubSize = *end;
    UniqueHandle f = ownFileHandle(CreateFileW(widen(s_.programPath).c_str(), GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) throw std::runtime_error("The program file cannot be read.");
    LARGE_INTEGER size;
    GetFileSizeEx(f.get(), &size);
    if (uint64_t(size.QuadPart) <= s_.stubSize) return false;
    const uint64_t length = uint64_t(size.QuadPart) - s_.stubSize;
    if (length > (uint64_t(1) << 31)) throw std::runtime_error("The setup image is too large.");
    image.resize(static_cast<size_t>(length));
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(s_.stubSize);
    SetFilePointerEx(f.get(), at, nullptr, FILE_BEGIN);
    size_t done = 0;
    while (done < image.size()) {
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(std::min<size_t>(image.size() - done, 1u << 24));
      if (!ReadFile(f.get(), image.data() + done, want, &got, nullptr) || got == 0)
        throw std::runtime_error("The program file cannot be read.");
      done += got;
    }
    return true;
  }

  int failEarly(const char* message, int code) {
    if (!s_.silent) {
      MessageBoxW(windows_.initWindow(), widen(message).c_str(), widen(e_.caption()).c_str(), MB_ICONERROR);
    }
    return code;
  }

  void copyBesideProgram(const char* extension) {
    const std::string from = s_.programFolder + s_.programBaseName + extension;
    const std::string to = s_.supportFolder + s_.programBaseName + extension;
    if (fileExists(from) && copyFileOver(from, to)) setNormalAttributes(to);
  }

  void preloadDialogs() {
    trace_.line("    <Dialogs>");
    int count = 0;
    for (size_t i = 0; i < e_.image.lineCount(); ++i)
      if (e_.image.commands[i] == "Display Dialog" && !e_.index->isDisabled(i)) ++count;
    windows_.setProgressRange(count, 1);
    initDialogs(e_, s_.supportFolder);
    orv::preloadDialogs(e_, [this] {
      if (!s_.silent && !s_.noSplash) windows_.stepProgress();
    });
    trace_.line("    </Dialogs>");
  }

  void reportRuntimeError(const std::string& what) {
    if (!s_.silent)
      MessageBoxW(nullptr, widen("Runtime error in install: " + what).c_str(), widen(e_.caption()).c_str(),
                  MB_ICONERROR);
    e_.exitCode = kExitRuntimeError;
  }

  void removeSupportFolder() {
    trace_.line("  <CachedSupportDir>");
    if (!s_.supportFolder.empty() && folderExists(s_.supportFolder)) {
      for (int attempt = 0; attempt < 3 && !deleteTree(s_.supportFolder); ++attempt) Sleep(50);
    }
    trace_.line("  </CachedSupportDir>");
    trace_.line("</Orvane>");
  }

  Engine& e_;
  StartupState& s_;
  Trace trace_;
  StartupWindows windows_;
  std::string runtimeMessages_;
};

}  // namespace

int runSetup() {
  installSystemCodePages();
  Engine engine;
  return Startup(engine).run();
}

}  // namespace orv
