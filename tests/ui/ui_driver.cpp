#include "ui/ui_driver.h"

#include <stdexcept>

#include "core/archive/sevenzip_writer.h"
#include "core/design/design.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace orv::test {
namespace {

constexpr unsigned kCp1252 = 1252;

// Runs a Linux program of the test host (Wine starts Unix binaries given by their Z: path) and waits.
void runHostProgram(const std::string& commandLine) {
  std::wstring cmd = widen(commandLine);
  STARTUPINFOW si{sizeof(si)};
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    throw std::runtime_error("cannot start " + commandLine);
  WaitForSingleObject(pi.hProcess, 20000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

std::string quoted(const std::string& text) {
  std::string q = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

struct Search {
  DWORD processId;
  std::wstring caption;
  std::wstring className;
  std::wstring childText;
  HWND found = nullptr;
};

std::wstring classOf(HWND window) {
  wchar_t name[128] = {};
  GetClassNameW(window, name, 128);
  return name;
}

BOOL CALLBACK findChildText(HWND child, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  wchar_t text[512] = {};
  GetWindowTextW(child, text, 512);
  if (s->childText == text) {
    s->found = child;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK findTopLevel(HWND window, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != s->processId || !IsWindowVisible(window)) return TRUE;
  if (!s->className.empty() && classOf(window) != s->className) return TRUE;
  if (!s->caption.empty()) {
    wchar_t title[512] = {};
    GetWindowTextW(window, title, 512);
    if (s->caption != title) return TRUE;
  }
  if (!s->childText.empty()) {
    Search inner{*s};
    inner.found = nullptr;
    EnumChildWindows(window, findChildText, reinterpret_cast<LPARAM>(&inner));
    if (!inner.found) return TRUE;
  }
  s->found = window;
  return FALSE;
}

HWND findTopLevelWindow(Search search, uint32_t timeoutMs) {
  eventually(
      [&] {
        search.found = nullptr;
        EnumWindows(findTopLevel, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      timeoutMs);
  return search.found;
}

}  // namespace

std::string wizardPage(const std::string& name, const std::string& caption, const std::string& body, int width,
                       int height) {
  const int buttonTop = height - 36;
  auto button = [&](const char* object, const char* text, int left, int tag, const char* extra) {
    return std::string("  object ") + object + ": TButton\n    Left = " + std::to_string(left) + "\n    Top = " +
           std::to_string(buttonTop) + "\n    Width = 80\n    Height = 25\n    Caption = '" + text + "'\n    Tag = " +
           std::to_string(tag) + "\n" + extra + "  end\n";
  };
  return "object " + name + ": TForm\n  Caption = '" + caption + "'\n  ClientWidth = " + std::to_string(width) +
         "\n  ClientHeight = " + std::to_string(height) +
         "\n  Color = clBtnFace\n  Font.Charset = DEFAULT_CHARSET\n  Font.Color = clWindowText\n"
         "  Font.Height = -11\n  Font.Name = 'Tahoma'\n  Font.Style = []\n  PixelsPerInch = 96\n"
         "  object Banner: TPanel\n    Left = 0\n    Top = 0\n    Width = " + std::to_string(width) +
         "\n    Height = 56\n    BevelOuter = bvNone\n    Color = clWhite\n    ParentBackground = False\n"
         "    object Title: TLabel\n      Left = 16\n      Top = 12\n      Width = 400\n      Height = 16\n"
         "      Caption = '" + caption + "'\n      Font.Charset = DEFAULT_CHARSET\n      Font.Color = clWindowText\n"
         "      Font.Height = -13\n      Font.Name = 'Tahoma'\n      Font.Style = [fsBold]\n      ParentFont = False\n"
         "    end\n  end\n"
         "  object Line: TBevel\n    Left = 0\n    Top = 56\n    Width = " + std::to_string(width) +
         "\n    Height = 2\n    Shape = bsTopLine\n  end\n" + body +
         "  object Rule: TBevel\n    Left = 8\n    Top = " + std::to_string(buttonTop - 12) + "\n    Width = " +
         std::to_string(width - 16) + "\n    Height = 2\n    Shape = bsTopLine\n  end\n" +
         button("BackButton", "< &Back", width - 272, 2, "") +
         button("NextButton", "&Next >", width - 188, 1, "    Default = True\n") +
         button("CancelButton", "Cancel", width - 92, 3, "    Cancel = True\n") + "end\n";
}

SetupFolder buildPageSetup(const ScriptLines& lines, const PageFiles& files) {
  SetupOptions options;
  options.resource.clear();
  SetupFolder setup = buildSetup(scriptImage(lines), options);
  std::vector<archive::WriterEntry> entries;
  auto add = [&](const std::string& name, const std::string& bytes) {
    archive::WriterEntry entry;
    entry.name = name;
    entry.data.assign(bytes.begin(), bytes.end());
    entries.push_back(std::move(entry));
  };
  for (const auto& [name, text] : files.designs) add(name + ".dfm", design::textToBinary(text, kCp1252, true));
  for (const auto& [name, content] : files.others) add(name, content);
  add("readme.txt", "support file\r\n");
  const std::vector<uint8_t> archiveBytes = archive::writeCopyArchive(entries);
  const std::string base = setup.exe.substr(0, setup.exe.rfind('.'));
  if (!writeWholeFile(base + ".res", std::string(archiveBytes.begin(), archiveBytes.end())))
    throw std::runtime_error("cannot write the resource archive");
  return setup;
}

RunningSetup::RunningSetup(const SetupFolder& setup, const std::string& arguments) {
  std::wstring cmd = L"\"" + widen(setup.exe) + L"\"";
  if (!arguments.empty()) cmd += L" " + widen(arguments);
  STARTUPINFOW si{sizeof(si)};
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, widen(setup.folder).c_str(), &si, &pi))
    throw std::runtime_error("cannot start the setup");
  CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  processId_ = pi.dwProcessId;
}

RunningSetup::~RunningSetup() {
  if (running()) {
    TerminateProcess(process_, 998);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

bool RunningSetup::running() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

uint32_t RunningSetup::wait(uint32_t timeoutMs) {
  if (WaitForSingleObject(process_, timeoutMs) == WAIT_TIMEOUT) {
    TerminateProcess(process_, 999);
    WaitForSingleObject(process_, 5000);
    return 999;
  }
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return code;
}

HWND waitForPage(const RunningSetup& setup, const std::string& caption, uint32_t timeoutMs) {
  return findTopLevelWindow(Search{setup.processId(), widen(caption), L"TPoolTemplate", {}}, timeoutMs);
}

HWND waitForWindowWithText(const RunningSetup& setup, const std::string& text, uint32_t timeoutMs) {
  return findTopLevelWindow(Search{setup.processId(), {}, {}, widen(text)}, timeoutMs);
}

HWND childWithText(HWND parent, const std::string& text) {
  Search s{0, {}, {}, widen(text)};
  EnumChildWindows(parent, findChildText, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

namespace {
struct ClassSearch {
  std::wstring className;
  int n;
  HWND found;
};

// A plain function: the 32-bit callback must be stdcall, which a lambda cannot be.
BOOL CALLBACK findChildOfClass(HWND child, LPARAM lp) {
  auto* cs = reinterpret_cast<ClassSearch*>(lp);
  if (_wcsicmp(classOf(child).c_str(), cs->className.c_str()) != 0) return TRUE;
  if (cs->n-- > 0) return TRUE;
  cs->found = child;
  return FALSE;
}
}  // namespace

HWND childOfClass(HWND parent, const std::wstring& className, int n) {
  ClassSearch s{className, n, nullptr};
  EnumChildWindows(parent, findChildOfClass, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

std::string textOf(HWND window) {
  wchar_t text[2048] = {};
  SendMessageTimeoutW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
  return narrow(text);
}

void clickAt(HWND control, int x, int y) {
  RECT r{};
  GetWindowRect(control, &r);
  runHostProgram("Z:\\usr\\bin\\xdotool mousemove " + std::to_string(r.left + x) + " " + std::to_string(r.top + y) +
                 " click 1");
  Sleep(150);
}

void click(HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  clickAt(control, (r.right - r.left) / 2, (r.bottom - r.top) / 2);
}

void typeText(const std::string& text) {
  runHostProgram("Z:\\usr\\bin\\xdotool type --delay 30 " + quoted(text));
  Sleep(150);
}

void pressKeys(const std::string& keys) {
  runHostProgram("Z:\\usr\\bin\\xdotool key --delay 50 " + keys);
  Sleep(150);
}

std::string screenshot(const std::string& name) {
  const std::string folder = hostPath(ORV_UI_ARTIFACTS);
  createFolders(folder);
  Sleep(300);  // let the last paint reach the display
  runHostProgram("Z:\\usr\\bin\\import -window root " + quoted(std::string(ORV_UI_ARTIFACTS) + "/" + name + ".png"));
  return std::string(ORV_UI_ARTIFACTS) + "/" + name + ".png";
}

}  // namespace orv::test
