// What the interpreter needs of a wizard page: how the user left it. The page runtime shows the page of
// a "Display Dialog" line and answers with one of these; the "Wizard Loop" turns the answer into its
// next step (Next forwards, Back backwards, Cancel out of the loop).
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace orv {

class CommandContext;

// The page's result codes; the result variable receives "NOTMODAL", "CANCEL", "NEXT", "BACK" or the
// upper-cased name of the control that ended the page.
enum class DialogResult { NotModal = 0, Cancel = 2, Next = 6, Back = 7, Custom = 8 };

struct DialogAnswer {
  DialogResult result = DialogResult::Next;
  std::string customName;  // for Custom
  intptr_t window = 0;     // a modeless page's window (WINDOWHANDLE), 0 when none is shown
};

// Shows the page of the current "Display Dialog" line, modally (waiting for the answer) or not.
using DialogPresenter = std::function<DialogAnswer(const CommandContext& line, bool modal)>;

// The text stored in the result variable; empty for a code outside the table.
std::string dialogResultText(const DialogAnswer& answer);

}  // namespace orv
