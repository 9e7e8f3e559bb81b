#include "script/line_refresh.h"

#include "bootstrap/engine.h"
#include "bootstrap/trace.h"
#include "core/text.h"
#include "platform/strings.h"
#include "script/run_hooks.h"

namespace orv {
namespace {

constexpr std::string_view kInitialization = "Initialization";

bool sameSecond(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wSecond == b.wSecond && a.wMinute == b.wMinute && a.wHour == b.wHour && a.wDay == b.wDay &&
         a.wMonth == b.wMonth && a.wYear == b.wYear;
}

std::string formatted(int(WINAPI* format)(LCID, DWORD, const SYSTEMTIME*, LPCWSTR, LPWSTR, int), DWORD flags,
                      const SYSTEMTIME& when) {
  wchar_t buffer[128];
  const int n = format(LOCALE_USER_DEFAULT, flags, &when, nullptr, buffer, 128);
  return n > 1 ? narrow(std::wstring_view(buffer, size_t(n - 1))) : std::string();
}

}  // namespace

bool ClockTexts::update() {
  const uint64_t now = GetTickCount64();
  if (now < recheckAt_) return false;
  SYSTEMTIME local;
  GetLocalTime(&local);
  // The tick count and the clock advance on the same timer, so the next second is due when the
  // remaining milliseconds have passed; a clock set by the user is seen within a second.
  recheckAt_ = now + std::max<uint64_t>(1, 1000 - std::min<WORD>(local.wMilliseconds, 999));
  if (!date_.empty() && sameSecond(local, shown_)) return false;
  shown_ = local;
  date_ = formatted(GetDateFormatW, DATE_SHORTDATE, local);
  time_ = formatted(GetTimeFormatW, 0, local);
  return true;
}

LineRefresh::LineRefresh(Engine& engine) : e_(engine) {
  e_.vars.watch({"LOGGED", "SILENT", "TITLE", "ZORNLOGO", "OVERRIDECACHE", "DATE", "TIME", "LANGUAGE", "ALLUSERS",
                 "UNINSTALLLINK", "ENGINECACHE", "ZORN_IsCancelled", "ABORT", "PROGRESS", "PROGRESSTEXT"});
  // The values seen last start as the engine's own state (no override, no language loaded, an empty
  // progress display), so a value preset on the command line is applied before the first line.
}

void LineRefresh::settings() {
  const bool secondPassed = clock_.update();
  if (!secondPassed && e_.vars.watchedChanges() == settingsSeen_) return;
  // Own writes first, then the snapshot, then the reads: a change made by anyone after the snapshot
  // is seen before the next line.
  writeClock();
  settingsSeen_ = e_.vars.watchedChanges();
  applySettings();
}

void LineRefresh::writeClock() {
  VariableStore& v = e_.vars;
  if (v.getValue("DATE") != clock_.date() || !v.exists("DATE")) v.defineVariable("DATE", clock_.date(), kInitialization);
  if (v.getValue("TIME") != clock_.time() || !v.exists("TIME")) v.defineVariable("TIME", clock_.time(), kInitialization);
}

void LineRefresh::applySettings() {
  VariableStore& v = e_.vars;
  const std::string logged = v.getValue("LOGGED");
  if (e_.trace && logged != e_.trace->path()) e_.trace->setPath(logged);
  const bool silent = isTrueText(v.getValue("SILENT"));
  e_.startup.silent = silent;
  v.setSilent(silent);
  e_.captionTitle = v.getValue("TITLE");
  e_.logoOff = equalsNoCase(v.getValue("ZORNLOGO"), "TRUE");
  if (std::string override = v.getValue("OVERRIDECACHE"); override != cacheOverride_) {
    cacheOverride_ = std::move(override);
    applyCacheOverride(e_, cacheOverride_);
  }
  if (std::string language = v.getValue("LANGUAGE"); language != language_) {
    language_ = std::move(language);
    applyLanguage(e_, language_);
  }
  refreshMaintenanceLinks(e_);
}

void LineRefresh::cancelState() {
  const uint64_t before = e_.vars.watchedChanges();
  if (before == cancelSeen_) return;
  const char* abort = boolText(isTrueText(e_.vars.getValue("ZORN_IsCancelled")));
  bool wrote = false;
  if (e_.vars.getValue("ABORT") != abort || !e_.vars.exists("ABORT")) {
    e_.vars.defineVariable("ABORT", abort, "Cancel State");
    wrote = true;
  }
  // Only our own write may have moved the counter meanwhile; any other change is looked at again.
  const uint64_t after = e_.vars.watchedChanges();
  cancelSeen_ = after - before <= (wrote ? 1u : 0u) ? after : before;
}

void LineRefresh::progress() {
  const uint64_t now = e_.vars.watchedChanges();
  if (now == progressSeen_) return;
  progressSeen_ = now;
  std::string text = e_.vars.getValue("PROGRESSTEXT");
  const int64_t position = toInt64Or(e_.vars.getValue("PROGRESS"), 0);
  if (text == progressText_ && position == progress_) return;
  progressText_ = std::move(text);
  progress_ = position;
  refreshProgressDisplay(e_, progressText_, progress_);
}

}  // namespace orv
