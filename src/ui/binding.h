// The binding of a page to script variables: ApplyDialogValues fills each control from the variable its
// Hint names and from its Tag role; every user edit writes the bound variable at once; clicks on
// controls with a navigation role end the page. Mirrors, status texts and rules follow the values.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "ui/page.h"

namespace orv {

void applyDialogValues(Page& page);
// DetachDialog's part of the binding: the page stops answering events and stays as it is.
void detachBinding(Page& page);

// Events from the page window.
void onControlCommand(Page& page, PageControl& control, UINT code);
void onControlNotify(Page& page, PageControl& control, const NMHDR& header);
void onControlScroll(Page& page, PageControl& control);
// A click on a drawn control (images and shapes have no window of their own).
void onDrawnClick(Page& page, PageControl& control);
// Enter and Escape: the default and the cancel button.
void onDialogKey(Page& page, bool cancelKey);

void refreshStatusTexts(Page& page);
void syncMirrorControls(Page& page);
void evaluateDialogRules(Page& page);

// The text of a control as the binding sees it: registered once in the dialog text table, expanded.
std::string controlText(Page& page, const PageControl& control);
void setWindowText(HWND window, const std::string& text);
std::string windowText(HWND window);

}  // namespace orv
