// "Install Service" and "Control Service" through the service control manager, and "Delete Service".
#include <windows.h>

#include <memory>

#include "core/text.h"
#include "engines/native_kinds.h"
#include "platform/strings.h"

namespace orv {
namespace {

struct ServiceCloser {
  void operator()(SC_HANDLE h) const {
    if (h) CloseServiceHandle(h);
  }
};
using UniqueService = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceCloser>;

constexpr DWORD kPollMs = 1000;
constexpr int kStopBeforeDeletePolls = 10;

std::string field(const Fields& f, size_t i) { return i < f.size() ? f[i] : std::string(); }

DWORD lastErrorOr(DWORD fallback) {
  const DWORD e = GetLastError();
  return e ? e : fallback;
}

// The dependency list of the service manager: services, then "+"-prefixed load-order groups, each ended
// by a NUL, the list by one more.
std::wstring dependencyList(const std::string& text) {
  const std::string items = replaceAll(text, "$NULL$", "~", true);
  std::vector<std::string> services, groups;
  for (std::string item : split(items, "[~]")) {
    if (item.empty()) continue;
    if (const size_t plus = item.find('+'); plus != std::string::npos) {
      item.erase(plus, 1);
      groups.push_back(item);
    } else {
      services.push_back(item);
    }
  }
  std::wstring list;
  for (const std::string& s : services) list += widen(s) + L'\0';
  for (const std::string& g : groups) list += L'+' + widen(g) + L'\0';
  list += L'\0';
  return list;
}

// Polls while the service is in `pending`, reporting progress so the job stays alive and can stop.
bool waitWhile(NativeJob& job, SC_HANDLE service, DWORD pending, const std::string& text, int maxPolls = -1) {
  for (int polls = 0; maxPolls < 0 || polls < maxPolls; ++polls) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status) || status.dwCurrentState != pending) return true;
    Sleep(kPollMs);
    if (!job.stepProgress(text, 0)) return false;
  }
  return true;
}

UniqueService openManager(NativeJob& job, const std::string& subject, StepOutcome& outcome) {
  UniqueService manager;
  outcome = job.retry(subject, [&]() -> DWORD {
    manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    return manager ? 0 : lastErrorOr(ERROR_ACCESS_DENIED);
  });
  return manager;
}

}  // namespace

bool installServiceKind(NativeJob& job, const Fields& f) {
  const std::string header = field(f, 0), name = field(f, 1), display = field(f, 2), description = field(f, 3);
  const std::string dependencies = field(f, 5), folder = withTrailingBackslash(field(f, 6));
  const std::string account = field(f, 11), password = field(f, 12), arguments = field(f, 13);
  job.byteProgress = true;
  std::string program;
  const std::string sources = sourceFolderOf(job.engine());
  for (const auto& [sourcePath, second] : headerFileGroup(job, header)) {
    const std::string destination = folder + fileNameOf(sourcePath);
    if (program.empty()) program = destination;
    if (placeFile(job, sources + sourcePath, destination) == Placement::Failed) return false;
  }
  const std::string subject = name + ", " + display + ", " + description;
  if (!job.stepProgress(subject, 0)) return false;
  std::string binaryPath = "\"" + program + "\"";
  if (!arguments.empty()) binaryPath += " " + arguments;
  const DWORD type = (field(f, 7) == "0" ? SERVICE_WIN32_OWN_PROCESS : SERVICE_WIN32_SHARE_PROCESS) |
                     (isTrueText(field(f, 8)) ? SERVICE_INTERACTIVE_PROCESS : 0);
  const std::string start = field(f, 9), errorControl = field(f, 10);
  const DWORD startType = start == "0" ? SERVICE_AUTO_START : start == "1" ? SERVICE_DEMAND_START : SERVICE_DISABLED;
  const DWORD errorMode = errorControl == "0"   ? SERVICE_ERROR_IGNORE
                          : errorControl == "1" ? SERVICE_ERROR_NORMAL
                                                : SERVICE_ERROR_SEVERE;
  StepOutcome outcome;
  UniqueService manager = openManager(job, subject, outcome);
  if (outcome == StepOutcome::Aborted) return false;
  if (!manager) return true;
  const std::wstring wName = widen(name), wDisplay = widen(display), wPath = widen(binaryPath);
  const std::wstring wGroup = widen(field(f, 4)), wDependencies = dependencyList(dependencies);
  const std::wstring wAccount = widen(account), wPassword = widen(password);
  outcome = job.retry(subject, [&]() -> DWORD {
    UniqueService service(CreateServiceW(manager.get(), wName.c_str(), wDisplay.c_str(), SERVICE_ALL_ACCESS, type,
                                         startType, errorMode, wPath.c_str(), wGroup.empty() ? nullptr : wGroup.c_str(),
                                         nullptr, wDependencies.c_str(), account.empty() ? nullptr : wAccount.c_str(),
                                         password.empty() ? nullptr : wPassword.c_str()));
    return service ? 0 : lastErrorOr(ERROR_GEN_FAILURE);
  });
  if (outcome == StepOutcome::Aborted) return false;
  if (outcome == StepOutcome::Ignored) return true;
  if (!description.empty() &&
      !job.runNested("Write Registry",
                     {"FALSE", "2", "SYSTEM\\CurrentControlSet\\Services\\" + name, "Description", description, "STRING"}))
    return false;
  job.recordUndo("Create Service", name);
  job.trace("        < " + subject + " >");
  return true;
}

bool controlServiceKind(NativeJob& job, const Fields& f) {
  const std::string name = field(f, 0), argument = field(f, 1), operation = field(f, 2);
  const bool wait = isTrueText(field(f, 3));
  const std::string subject = name + ", " + argument;
  if (!job.stepProgress(subject, 0)) return false;
  StepOutcome outcome;
  UniqueService manager = openManager(job, subject, outcome);
  if (outcome == StepOutcome::Aborted) return false;
  if (!manager) return true;
  UniqueService service;
  outcome = job.retry(subject, [&]() -> DWORD {
    service.reset(OpenServiceW(manager.get(), widen(name).c_str(), SERVICE_ALL_ACCESS));
    return service ? 0 : lastErrorOr(ERROR_SERVICE_DOES_NOT_EXIST);
  });
  if (outcome == StepOutcome::Aborted) return false;
  if (!service) return true;
  if (operation == "0") {
    const std::wstring wArgument = widen(argument);
    const wchar_t* arguments[] = {wArgument.c_str()};
    StartServiceW(service.get(), argument.empty() ? 0 : 1, argument.empty() ? nullptr : arguments);
    if (wait && !waitWhile(job, service.get(), SERVICE_START_PENDING, subject)) return false;
  } else {
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    if (wait && !waitWhile(job, service.get(), SERVICE_STOP_PENDING, subject)) return false;
    if (operation == "2") DeleteService(service.get());
  }
  job.trace("        < " + subject + " >");
  return true;
}

bool deleteServiceInverse(NativeJob& job, const Fields& f, int64_t weight) {
  const std::string name = field(f, 0);
  UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (manager) {
    const StepOutcome outcome = job.retry(name, [&]() -> DWORD {
      UniqueService service(OpenServiceW(manager.get(), widen(name).c_str(), SERVICE_ALL_ACCESS));
      if (!service) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : lastErrorOr(ERROR_ACCESS_DENIED);
      // A running service would keep its program locked; ask it to stop before it goes.
      SERVICE_STATUS status{};
      if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
        waitWhile(job, service.get(), SERVICE_STOP_PENDING, name, kStopBeforeDeletePolls);
      if (DeleteService(service.get()) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE) return 0;
      return lastErrorOr(ERROR_ACCESS_DENIED);
    });
    if (outcome == StepOutcome::Aborted) return false;
  }
  return job.stepProgress(name, weight) && !job.aborted();
}

}  // namespace orv
