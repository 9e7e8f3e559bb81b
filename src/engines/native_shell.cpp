// "Create Shortcut": a shell link written through the shell's link object on the job's thread.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <memory>

#include "core/text.h"
#include "engines/native_kinds.h"
#include "platform/com.h"
#include "platform/strings.h"

namespace orv {
namespace {

int showCommandOf(std::string_view show) {
  if (show == "1") return SW_SHOWMAXIMIZED;
  if (show == "2") return SW_SHOWMINNOACTIVE;
  return SW_SHOWNORMAL;
}

struct LinkSettings {
  std::string target, arguments, description, workingFolder, iconFile;
  int iconIndex = 0;
  int showCommand = SW_SHOWNORMAL;
};

bool writeLink(const LinkSettings& s, const std::string& linkPath) {
  ComScope com;
  IShellLinkW* rawLink = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&rawLink));
  if (FAILED(hr) || !rawLink) return false;
  ComPtr<IShellLinkW> link(rawLink);
  link->SetPath(widen(s.target).c_str());
  link->SetWorkingDirectory(widen(s.workingFolder).c_str());
  link->SetArguments(widen(s.arguments).c_str());
  link->SetDescription(widen(s.description).c_str());
  link->SetShowCmd(s.showCommand);
  link->SetIconLocation(widen(s.iconFile).c_str(), s.iconIndex);
  IPersistFile* rawFile = nullptr;
  hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&rawFile));
  if (FAILED(hr) || !rawFile) return false;
  ComPtr<IPersistFile> file(rawFile);
  return SUCCEEDED(file->Save(widen(linkPath).c_str(), TRUE));
}

}  // namespace

bool createShortcutKind(NativeJob& job, const Fields& f) {
  auto field = [&f](size_t i) { return i < f.size() ? f[i] : std::string(); };
  const std::string name = field(0), description = field(1), folder = field(2), target = field(3);
  const std::string arguments = field(4), workingFolder = field(5), iconFile = field(6);
  const std::string link = withTrailingBackslash(folder) + name + ".lnk";
  if (!ensureFolder(job, folder)) return false;
  if (!job.stepProgress(link, 10240)) return false;
  const bool recorded = job.recordUndo("Create File", link);
  LinkSettings settings;
  settings.target = target;
  settings.arguments = arguments;
  settings.description = description;
  settings.workingFolder = workingFolder.empty() ? workingFolder : withTrailingBackslash(workingFolder);
  settings.iconFile = iconFile;
  settings.iconIndex = static_cast<int>(toInt64Or(field(7), 0));
  settings.showCommand = showCommandOf(field(8));
  for (;;) {
    std::string failure;
    try {
      if (writeLink(settings, job.fsPath(link))) break;
    } catch (const std::exception& e) {
      failure = e.what();
    }
    if (failure.empty()) failure = "Unable to create shortcut";
    const NativeJob::ErrorDecision d = job.decideOnError(failure + "\r\r" + link, -1);
    if (d.retry && job.stepProgress("$IGNORE$", 0)) continue;  // a stop request ends the retries
    if (recorded) job.withdrawLastUndo();
    return !d.abort && !d.retry;
  }
  job.trace("        < " + link + " >");
  return true;
}

}  // namespace orv
