// The feature controls of a page: a tree view or a checklist with Tag 1 shows the component lists and
// lets the user change the selection; static texts with Tags 2, 3, 4 and 6 describe it. The binding
// calls in here; the lists and their rules are core/components.h.
#pragma once
#include <windows.h>

#include "ui/page.h"

namespace orv {

// Part of ApplyDialogValues (under the suppress-handlers flag): fills the feature tree and checklist
// and starts the selection path at the first entry.
void applyFeatureControls(Page& page);
// Events of the feature controls; true when the event was theirs alone.
bool onFeatureNotify(Page& page, PageControl& control, const NMHDR& header);
// The component description and size texts (Tags 2, 3, 4 and 6).
void refreshFeatureStatusTexts(Page& page);

}  // namespace orv
