// The engine's own overwrite and error questions (five buttons through the task dialog of common controls
// 6; a three-button message box where that is missing) and the folder browser for missing sources.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include "bootstrap/engine.h"
#include "core/text.h"
#include "engines/native_state.h"
#include "platform/libraries.h"
#include "platform/strings.h"

namespace orv {
namespace {

enum ButtonId { kYes = 100, kNo, kCancel, kNoToAll, kYesToAll };

// Lone carriage returns (the engine's line breaks in messages) as the line breaks dialogs show.
std::wstring displayText(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) out += '\n';
  }
  return widen(out);
}

HWND ownerWindow(const Engine& e) {
  const int64_t value = toInt64Or(e.vars.getValue("WINDOWHANDLE"), 0);
  const HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(value));
  return value != 0 && IsWindow(window) ? window : nullptr;
}

using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

class DialogQuestions final : public NativeQuestions {
 public:
  explicit DialogQuestions(Engine& engine) : engine_(engine) {}

  Answer ask(QuestionKind kind, const std::string& caption, const std::string& text) override {
    const std::wstring title = widen(caption), body = displayText(text);
    const auto taskDialog = systemFunction<TaskDialogIndirectFn>(L"comctl32.dll", "TaskDialogIndirect");
    if (taskDialog) {
      const TASKDIALOG_BUTTON buttons[] = {{kYes, L"&Yes"},         {kNo, L"&No"},         {kCancel, L"Cancel"},
                                           {kNoToAll, L"No to A&ll"}, {kYesToAll, L"Yes to &All"}};
      TASKDIALOGCONFIG config{};
      config.cbSize = sizeof(config);
      config.hwndParent = ownerWindow(engine_);
      config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
      config.pszWindowTitle = title.c_str();
      config.pszMainIcon = kind == QuestionKind::Error ? TD_ERROR_ICON : TD_WARNING_ICON;
      config.pszContent = body.c_str();
      config.cButtons = 5;
      config.pButtons = buttons;
      config.nDefaultButton = kYes;
      int pressed = 0;
      if (SUCCEEDED(taskDialog(&config, &pressed, nullptr, nullptr))) {
        switch (pressed) {
          case kYes: return Answer::Yes;
          case kNo: return Answer::No;
          case kNoToAll: return Answer::NoToAll;
          case kYesToAll: return Answer::YesToAll;
          default: return Answer::Cancel;
        }
      }
    }
    const UINT icon = kind == QuestionKind::Error ? MB_ICONERROR : MB_ICONQUESTION;
    switch (MessageBoxW(ownerWindow(engine_), body.c_str(), title.c_str(), MB_YESNOCANCEL | icon)) {
      case IDYES: return Answer::Yes;
      case IDNO: return Answer::No;
      default: return Answer::Cancel;
    }
  }

  std::string locateSources(const std::string& prompt) override {
    const std::wstring text = widen(prompt);
    BROWSEINFOW info{};
    info.hwndOwner = ownerWindow(engine_);
    info.lpszTitle = text.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (!chosen) return {};
    wchar_t path[MAX_PATH] = {};
    const bool ok = SHGetPathFromIDListW(chosen, path);
    CoTaskMemFree(chosen);
    return ok ? narrow(path) : std::string();
  }

 private:
  Engine& engine_;
};

}  // namespace

std::shared_ptr<NativeQuestions> dialogQuestions(Engine& engine) { return std::make_shared<DialogQuestions>(engine); }

}  // namespace orv
