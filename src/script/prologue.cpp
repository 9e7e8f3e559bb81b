#include "script/prologue.h"

#include <windows.h>

#include "bootstrap/engine.h"
#include "core/text.h"
#include "platform/libraries.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "script/line_refresh.h"

namespace orv {
namespace {

constexpr std::string_view kInitialization = "Initialization";
constexpr std::string_view kPreInitialization = "Pre-Initialization";

std::string tickText() { return std::to_string(GetTickCount()); }

std::string registeredValue(const char* name) {
  const RegistryView view = is64BitWindows() ? RegistryView::Bits64 : RegistryView::Bits32;
  const auto key = RegistryKey::open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", KEY_READ, view);
  if (!key) return {};
  return key->getString(name).value_or(std::string());
}

// Desktop composition on, or visual themes on Vista and later.
bool glassAvailable() {
  using CompositionEnabled = HRESULT(WINAPI*)(BOOL*);
  if (auto enabled = systemFunction<CompositionEnabled>(L"dwmapi.dll", "DwmIsCompositionEnabled")) {
    BOOL on = FALSE;
    if (SUCCEEDED(enabled(&on)) && on) return true;
  }
  if (!osVersion().atLeast(6, 0)) return false;
  using ThemeActive = BOOL(WINAPI*)();
  auto themed = systemFunction<ThemeActive>(L"uxtheme.dll", "IsThemeActive");
  return themed && themed();
}

std::string folderWithBackslash(const std::string& path) { return path.empty() ? std::string() : folderOf(path); }

}  // namespace

void setEarlyVariables(Engine& e) {
  VariableStore& v = e.vars;
  v.setValue("ZORN_thProgress", "0");
  v.setValue("ZORN_thMin", "0");
  v.setValue("ZORN_thMax", "100");
  v.setValue("ZORN_thProgressText", "");
  v.setValue("ZORN_thFinished", "FALSE");
  v.setValue("ZORN_thCancelled", "FALSE");
  v.setValue("ZORN_IsCancelled", "FALSE");
  v.setValue("ZORN_LastDelegateTick", tickText());
  v.setValue("ZORN_LastActiveTick", tickText());
  v.defineVariable("TARGETDIR", "", kPreInitialization);
  v.defineVariable("STARTMENU", e.image.title, kPreInitialization);
  v.defineVariable("ALLUSERS", boolText(isAdministrator()), kPreInitialization);
}

void setPredefinedVariables(Engine& e) {
  VariableStore& v = e.vars;
  const StartupState& s = e.startup;
  auto set = [&](std::string_view name, std::string_view value) { v.defineVariable(name, value, kInitialization); };
  auto setIfMissing = [&](std::string_view name, std::string_view value) {
    if (!v.exists(name)) set(name, value);
  };
  ClockTexts clock;
  clock.update();
  const std::string gpoPath = folderWithBackslash(s.policyPath);
  const std::string sfxPath = folderWithBackslash(s.selfExtractorPath);

  set("ZORN_TIMEOUT", "10");
  set("ZORN_COMPRESS_INSTALLER_CACHE", "TRUE");
  set("ZORN_DISABLE_ROLLBACK", "FALSE");
  set("ZORN_DISABLE_VISTA_RESTART_MANAGER", "FALSE");
  set("CHARSET_OVERRIDE", "");
  setIfMissing("NATIVE_ENGINE", "FALSE");
  set("NATIVE_LOGGING", "");
  set("NATIVE_ROLLBACK", "TRUE");
  set("NATIVE_ERROR", "PROMPT");
  set("NATIVE_OVERWRITE", "PROMPT");
  for (const char* name : {"NATIVE_OVERWRITE_OLDER", "DELAYUNTIL_APPLYCHANGES", "NATIVE_OVERRIDE_PERMISSIONS",
                           "NATIVE_OVERRIDE_NON_RESTORABLE_PERMISSIONS"})
    set(name, "FALSE");
  set("NATIVE_PROGRESS", "0");
  set("IISHOST", "localhost");
  setIfMissing("OVERRIDECACHE", "");
  set("ZORNLOGO", "");
  set("SELECTED", "0");
  set("WINDOWHANDLE", "0");
  set("EXEFILE", s.programPath);
  set("EXEDIR", s.programFolder);
  set("PROGRESSTEXT", "");
  set("PROGRESSMODE", "");
  set("CUSTOM_TASKBAR_PROGRESS_ENABLED", "FALSE");
  set("CUSTOM_TASKBAR_PROGRESS_PERCENT", "0");
  set("CUSTOM_TASKBAR_PROGRESS_MAX", "100");
  set("ABORT", "FALSE");
  set("PROGRESS", "0");
  set("LASTERROR", "");
  set("LICENSE", "FALSE");
  set("USERNAME", registeredValue("RegisteredOwner"));
  set("USERCOMPANY", registeredValue("RegisteredOrganization"));
  set("COPYWEBLOCK", "");
  set("REBOOTCOMPUTER", "FALSE");
  set("RUNAPP", "TRUE");
  set("WIZARD", "NEXT");
  set("VERSION", e.image.version);
  set("SILENT", boolText(s.silent));
  set("LOGGED", s.logPath);
  set("CMDLINE", s.rawCommandLine);
  set("REBOOTNOW", "OK");
  set("SFXPATH", sfxPath);
  set("SFXFILE", s.selfExtractorPath.empty() ? std::string() : fileNameOf(s.selfExtractorPath));
  set("GPOPATH", gpoPath);
  set("SETUPPATH", !gpoPath.empty() ? "$GPOPATH$" : !sfxPath.empty() ? "$SFXPATH$" : "$EXEDIR$");
  set("COMPLETE", "TRUE");
  set("MODIFY", "TRUE");
  set("NEWLINE", "\r\n");
  set("MINIMUM", "FALSE");
  set("PERSONALIZED", "FALSE");
  set("GLASS", boolText(glassAvailable()));
  set("REPAIR", "FALSE");
  set("REMOVE", "FALSE");
  set("ADVERTISE", "FALSE");
  set("ROOTDIR", s.programFolder);
  // A maintenance run may have brought the installed product's title from its instance data.
  set("TITLE", v.exists("TITLE") ? v.getValue("TITLE") : e.image.title);
  set("COMPANY", e.image.publisher);
  set("DATE", clock.date());
  set("TIME", clock.time());
  set("TEMPDIR", s.tempFolder);
  set("ABORTONERROR", "TRUE");
  set("ABORTEDONERROR", "FALSE");
  set("SAVEDATA", "FALSE");
  set("SUPPORTDIR", s.supportFolder);
  set("MSIFILE", e.msiPath);
  set("LANGUAGE", "");
}

void injectCommandLine(Engine& e) {
  for (const auto& [name, value] : e.startup.assignments) {
    if (e.vars.exists(name))
      e.vars.updateVariable(name, value, kInjectReason);
    else
      e.vars.defineVariable(name, value, kInjectReason);
  }
}

std::string singleInstanceMarker(const Engine& e) {
  const std::string flag = expandCompilerConstants("#SINGLEINSTANCE#", e.index->compilerConstants());
  if (!equalsNoCase(flag, "TRUE")) return {};
  return e.startup.tempFolder + e.image.revisionCode + ".orv";
}

}  // namespace orv
