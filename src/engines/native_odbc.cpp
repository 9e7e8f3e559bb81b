// ODBC drivers (registered in ODBCINST.INI with a usage count) and data sources (through odbccp32,
// loaded from the system folder at run time).
#include <windows.h>
#include <odbcinst.h>

#include "core/commatext.h"
#include "core/text.h"
#include "core/variables.h"
#include "engines/native_kinds.h"
#include "platform/libraries.h"
#include "platform/strings.h"

namespace orv {
namespace {

constexpr std::string_view kDriversKey = "SOFTWARE\\ODBC\\ODBCINST.INI";
// The file-table marker of a driver's set-up library (second line of its pair).
constexpr std::string_view kSetupMarker = "SETUP";

std::string field(const Fields& f, size_t i) { return i < f.size() ? f[i] : std::string(); }

using ConfigDataSourceFn = BOOL(WINAPI*)(HWND, WORD, LPCWSTR, LPCWSTR);

bool configDataSource(WORD request, const std::string& driver, const std::wstring& attributes) {
  static const auto configure = systemFunction<ConfigDataSourceFn>(L"odbccp32.dll", "SQLConfigDataSourceW");
  return configure && configure(nullptr, request, widen(driver).c_str(), attributes.c_str());
}

// "name=value" lines with NUL separators, ended by one more NUL.
std::wstring attributeBlock(const std::string& first, const std::string& lines) {
  std::wstring block = widen(first);
  block += L'\0';
  for (const std::string& line : split(textToNewline(lines), "\r\n")) {
    if (line.empty()) continue;
    block += widen(line);
    block += L'\0';
  }
  block += L'\0';
  return block;
}

int64_t usageCount(NativeJob& job, const std::string& driverKey) {
  const auto key = RegistryKey::open(HKEY_LOCAL_MACHINE, driverKey, KEY_READ, job.view());
  if (!key) return 0;
  return key->getDword("UsageCount").value_or(1);
}

bool permanentWrite(NativeJob& job, const std::string& key, const std::string& name, const std::string& value,
                    const char* type = "STRING") {
  return job.runNested("Write Registry", {"TRUE", "2", key, name, value, type});
}

bool registerDriver(NativeJob& job, const std::string& driver, const std::string& attributes,
                    const std::string& driverPath, const std::string& setupPath) {
  const std::string key = std::string(kDriversKey) + "\\" + driver;
  const int64_t count = usageCount(job, key) + 1;
  const StepOutcome created = job.retry(key, [&]() -> DWORD {
    LONG error = 0;
    return RegistryKey::tryCreate(HKEY_LOCAL_MACHINE, key, job.view(), error) ? 0 : static_cast<DWORD>(error);
  });
  if (created == StepOutcome::Aborted) return false;
  LONG error = 0;
  if (auto k = RegistryKey::tryOpen(HKEY_LOCAL_MACHINE, key, KEY_READ | KEY_WRITE, job.view(), error))
    k->removeValue("UsageCount");
  if (!permanentWrite(job, key, "UsageCount", std::to_string(count), "INTEGER")) return false;
  for (const std::string& line : split(textToNewline(attributes), "\r\n")) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    if (!permanentWrite(job, key, line.substr(0, eq), line.substr(eq + 1))) return false;
  }
  if (!permanentWrite(job, key, "Driver", driverPath)) return false;
  if (!setupPath.empty() && !permanentWrite(job, key, "Setup", setupPath)) return false;
  return permanentWrite(job, std::string(kDriversKey) + "\\ODBC Drivers", driver, "Installed");
}

}  // namespace

bool installOdbcDriverKind(NativeJob& job, const Fields& f) {
  const std::string header = field(f, 0), driver = field(f, 1), folder = withTrailingBackslash(field(f, 2));
  const std::string attributes = field(f, 3);
  job.byteProgress = true;
  const auto group = headerFileGroup(job, header);
  std::string driverPath, setupPath;
  for (const auto& [sourcePath, second] : group) {
    std::string& slot = equalsNoCase(second, kSetupMarker) ? setupPath : driverPath;
    if (slot.empty()) slot = folder + fileNameOf(sourcePath);
  }
  const std::string sources = sourceFolderOf(job.engine());
  bool registered = false;
  for (const auto& [sourcePath, second] : group) {
    const Placement placed = placeFile(job, sources + sourcePath, folder + fileNameOf(sourcePath), {.recordCreateFile = false});
    if (placed == Placement::Failed) return false;
    if (!registered) {
      registered = true;
      if (!registerDriver(job, driver, attributes, driverPath, setupPath)) return false;
    }
  }
  job.trace("        < " + driver + " >");
  job.recordUndo("Install ODBC Driver", joinCommaText({driver, driverPath, setupPath}));
  return true;
}

bool createOdbcDsnKind(NativeJob& job, const Fields& f) {
  const std::string name = field(f, 0), driver = field(f, 1);
  const bool system = isTrueText(field(f, 2));
  if (!job.stepProgress(name, 5120)) return false;
  if (configDataSource(system ? ODBC_ADD_SYS_DSN : ODBC_ADD_DSN, driver, attributeBlock("DSN=" + name, field(f, 3)))) {
    job.recordUndo("Create ODBC DSN", joinCommaText({name, driver, boolText(system)}));
    job.trace("        < " + name + " >");
  }
  return true;
}

bool deleteOdbcDriverInverse(NativeJob& job, const Fields& f, int64_t weight) {
  const std::string driver = field(f, 0), driverFile = field(f, 1), setupFile = field(f, 2);
  const std::string key = std::string(kDriversKey) + "\\" + driver;
  if (!driver.empty() && RegistryKey::exists(HKEY_LOCAL_MACHINE, key, job.view())) {
    const int64_t count = usageCount(job, key) - 1;
    LONG error = 0;
    if (count > 0) {
      if (auto k = RegistryKey::tryOpen(HKEY_LOCAL_MACHINE, key, KEY_READ | KEY_WRITE, job.view(), error)) {
        k->writeDword("UsageCount", static_cast<uint32_t>(count));
        job.trace("          < " + key + "UsageCount\\" + std::to_string(count) + " >");
      }
    } else {
      if (!driverFile.empty()) deleteFileForUndo(job, driverFile);
      if (!setupFile.empty() && !equalsNoCase(setupFile, driverFile)) deleteFileForUndo(job, setupFile);
      RegistryKey::deleteTree(HKEY_LOCAL_MACHINE, key, job.view());
      if (auto k = RegistryKey::tryOpen(HKEY_LOCAL_MACHINE, std::string(kDriversKey) + "\\ODBC Drivers",
                                        KEY_READ | KEY_WRITE, job.view(), error))
        k->removeValue(driver);
    }
  }
  return job.stepProgress(driver, weight) && !job.aborted();
}

bool removeOdbcDsnInverse(NativeJob& job, const Fields& f, int64_t weight) {
  const std::string name = field(f, 0), driver = field(f, 1);
  const bool system = isTrueText(field(f, 2));
  configDataSource(system ? ODBC_REMOVE_SYS_DSN : ODBC_REMOVE_DSN, driver, attributeBlock("DSN=" + name, ""));
  return job.stepProgress(name, weight) && !job.aborted();
}

}  // namespace orv
