// Builds a page's window and its native controls from a design tree: each registered class becomes the
// nearest native control (or a drawn one), with its position, size, font, text, items, visibility and
// state. Properties a control does not use are skipped.
#pragma once
#include <memory>
#include <string>

#include "core/design/design.h"
#include "ui/page.h"

namespace orv {

inline constexpr int kFirstControlId = 100;      // a control's id is this plus its index
inline constexpr size_t kMaxPageControls = 4000;  // a design with more is refused

// Throws std::runtime_error when the page window cannot be made or the design is not a page.
std::unique_ptr<Page> buildPage(DialogRuntime& runtime, const design::Object& root, const std::string& key,
                                const std::string& designFileName);

// The controls whose windows cost most to make (drop-down lists) are left out of buildPage; this makes
// them, in their place in the tab order. Idle time after start-up calls it, and so does filling a page.
void createPendingWindows(Page& page);
bool hasPendingWindows(const Page& page);

// Shows the controls of the tab sheet `tab` of the page control at `pageControl` and hides the others.
void selectTabSheet(Page& page, int pageControl, int tab);
// Shows or hides every native control after its own and its containers' visibility.
void applyVisibility(Page& page);
// Folder stand-ins: lists the folder's subfolders (and files for a file list) in the control.
void fillFolderList(PageControl& control, const std::string& folder);
// Drive stand-ins: selects the drive of `path`.
void selectDrive(PageControl& control, const std::string& path);

}  // namespace orv
