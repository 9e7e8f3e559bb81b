#include "ui/page_rules.h"

#include <commctrl.h>

#include "bootstrap/engine.h"
#include "core/commatext.h"
#include "core/text.h"
#include "ui/binding.h"
#include "ui/binding_rules.h"
#include "ui/control_factory.h"
#include "ui/dialog_pool.h"

namespace orv {
namespace {

// Rules may set properties whose change events run the rules again; beyond this depth they stop.
constexpr int kMaxRuleDepth = 4;

const char* designBool(bool b) { return b ? "True" : "False"; }

std::optional<bool> designBoolOf(const std::string& text) {
  if (equalsNoCase(text, "True")) return true;
  if (equalsNoCase(text, "False")) return false;
  return std::nullopt;
}

// Controls whose caption the page draws itself.
bool isDrawnCaption(const PageControl& c) {
  return c.kind == ControlKind::Panel || c.kind == ControlKind::GroupBox || c.kind == ControlKind::TabSheet;
}
bool isTextControl(const PageControl& c) { return c.window && !isDrawnCaption(c); }

bool hasCheckedState(const PageControl& c) { return c.kind == ControlKind::CheckBox || c.kind == ControlKind::Radio; }

int64_t positionOf(const PageControl& c) {
  switch (c.kind) {
    case ControlKind::TrackBar: return SendMessageW(c.window, TBM_GETPOS, 0, 0);
    case ControlKind::ProgressBar: return SendMessageW(c.window, PBM_GETPOS, 0, 0);
    case ControlKind::UpDown: return SendMessageW(c.window, UDM_GETPOS32, 0, 0);
    default: return 0;
  }
}

bool hasPosition(const PageControl& c) {
  return c.window && (c.kind == ControlKind::TrackBar || c.kind == ControlKind::ProgressBar || c.kind == ControlKind::UpDown);
}

bool hasItemIndex(const PageControl& c) {
  return c.window && (c.kind == ControlKind::ListBox || c.kind == ControlKind::ComboBox || c.kind == ControlKind::DriveCombo ||
                      c.kind == ControlKind::FolderList);
}

bool isListBox(const PageControl& c) { return c.kind == ControlKind::ListBox || c.kind == ControlKind::FolderList; }

// A "Component.Property" text names the property's current value when both exist.
std::string resolved(Page& page, const std::string& value) {
  const size_t dot = value.find('.');
  if (dot == std::string::npos) return value;
  PageControl* c = page.find(value.substr(0, dot));
  if (!c) return value;
  return propertyText(page, *c, value.substr(dot + 1)).value_or(value);
}

}  // namespace

std::optional<std::string> propertyText(Page&, PageControl& c, std::string_view property) {
  if (equalsNoCase(property, "Enabled")) return designBool(c.window ? IsWindowEnabled(c.window) != FALSE : c.enabled);
  if (equalsNoCase(property, "Visible")) return designBool(c.visible);
  if (equalsNoCase(property, "Tag")) return std::to_string(c.tag);
  if (equalsNoCase(property, "Hint")) return c.hint;
  if (equalsNoCase(property, "Name")) return c.name;
  if (equalsNoCase(property, "Left")) return std::to_string(c.bounds.left);
  if (equalsNoCase(property, "Top")) return std::to_string(c.bounds.top);
  if (equalsNoCase(property, "Width")) return std::to_string(c.bounds.right - c.bounds.left);
  if (equalsNoCase(property, "Height")) return std::to_string(c.bounds.bottom - c.bounds.top);
  if (equalsNoCase(property, "Checked") && hasCheckedState(c) && c.window)
    return designBool(SendMessageW(c.window, BM_GETCHECK, 0, 0) == BST_CHECKED);
  if (equalsNoCase(property, "Caption") || equalsNoCase(property, "Text")) {
    if (isDrawnCaption(c)) return c.caption;
    if (isTextControl(c)) return windowText(c.window);
    return std::nullopt;
  }
  if (equalsNoCase(property, "MaxLength") && (c.kind == ControlKind::Edit || c.kind == ControlKind::Memo || c.kind == ControlKind::RichEdit)) {
    if (c.window && c.kind != ControlKind::Edit) return std::to_string(SendMessageW(c.window, EM_GETLIMITTEXT, 0, 0));
    return std::to_string(c.maxLength);
  }
  if (equalsNoCase(property, "ReadOnly") && c.window && (c.kind == ControlKind::Edit || c.kind == ControlKind::Memo || c.kind == ControlKind::RichEdit))
    return designBool((GetWindowLongW(c.window, GWL_STYLE) & ES_READONLY) != 0);
  if (equalsNoCase(property, "Position") && hasPosition(c)) return std::to_string(positionOf(c));
  if (equalsNoCase(property, "ItemIndex") && hasItemIndex(c))
    return std::to_string(SendMessageW(c.window, isListBox(c) ? LB_GETCURSEL : CB_GETCURSEL, 0, 0));
  return std::nullopt;
}

bool setPropertyText(Page& page, PageControl& c, std::string_view property, const std::string& text) {
  if (equalsNoCase(property, "Enabled") || equalsNoCase(property, "Visible") || equalsNoCase(property, "Checked") ||
      equalsNoCase(property, "ReadOnly")) {
    const std::optional<bool> on = designBoolOf(text);
    if (!on) return false;
    if (equalsNoCase(property, "Enabled")) {
      c.enabled = *on;
      if (c.window && (IsWindowEnabled(c.window) != FALSE) != *on) EnableWindow(c.window, *on);
    } else if (equalsNoCase(property, "Visible")) {
      if (c.visible == *on) return true;
      c.visible = *on;
      applyVisibility(page);
    } else if (equalsNoCase(property, "ReadOnly")) {
      if (!c.window || (c.kind != ControlKind::Edit && c.kind != ControlKind::Memo && c.kind != ControlKind::RichEdit)) return false;
      SendMessageW(c.window, EM_SETREADONLY, *on, 0);
    } else {
      if (!hasCheckedState(c) || !c.window) return false;
      const bool now = SendMessageW(c.window, BM_GETCHECK, 0, 0) == BST_CHECKED;
      if (now == *on) return true;
      SendMessageW(c.window, BM_SETCHECK, *on ? BST_CHECKED : BST_UNCHECKED, 0);
      // A changed state counts as a click, so the bound variable follows it.
      onControlCommand(page, c, BN_CLICKED);
    }
    return true;
  }
  if (equalsNoCase(property, "Caption") || equalsNoCase(property, "Text")) {
    if (isDrawnCaption(c)) {
      c.caption = text;
      InvalidateRect(page.window, &c.bounds, TRUE);
      return true;
    }
    if (!isTextControl(c)) return false;
    if (windowText(c.window) != text) setWindowText(c.window, text);
    return true;
  }
  int64_t number = 0;
  if (!parseInt64(text, number)) return false;
  if (equalsNoCase(property, "MaxLength") && c.window &&
      (c.kind == ControlKind::Edit || c.kind == ControlKind::Memo || c.kind == ControlKind::RichEdit)) {
    c.maxLength = static_cast<int>(std::clamp<int64_t>(number, 0, INT32_MAX));
    SendMessageW(c.window, EM_LIMITTEXT, static_cast<WPARAM>(c.maxLength), 0);
    return true;
  }
  if (equalsNoCase(property, "Position") && hasPosition(c)) {
    if (c.kind == ControlKind::TrackBar) SendMessageW(c.window, TBM_SETPOS, TRUE, static_cast<LPARAM>(number));
    if (c.kind == ControlKind::ProgressBar) SendMessageW(c.window, PBM_SETPOS, static_cast<WPARAM>(number), 0);
    if (c.kind == ControlKind::UpDown) SendMessageW(c.window, UDM_SETPOS32, 0, static_cast<LPARAM>(number));
    return true;
  }
  if (equalsNoCase(property, "ItemIndex") && hasItemIndex(c)) {
    SendMessageW(c.window, isListBox(c) ? LB_SETCURSEL : CB_SETCURSEL, static_cast<WPARAM>(number), 0);
    return true;
  }
  if (equalsNoCase(property, "Tag")) {
    c.tag = number;
    return true;
  }
  return false;
}

void runDialogRules(Page& page) {
  if (page.rulesText.empty()) return;
  DialogRuntime& rt = *page.runtime;
  if (rt.ruleDepth >= kMaxRuleDepth) return;
  ++rt.ruleDepth;
  try {
    for (const std::string& item : splitCommaText(page.rulesText)) {
      const std::optional<DialogRule> rule = parseDialogRule(item);
      if (!rule) continue;
      PageControl* source = page.find(rule->sourceComponent);
      const std::string compared = resolved(page, rule->comparedValue);
      const std::string current = source ? propertyText(page, *source, rule->sourceProperty).value_or("") : std::string();
      if ((current == compared) != rule->equal) continue;
      if (PageControl* target = page.find(rule->targetComponent))
        setPropertyText(page, *target, rule->targetProperty, resolved(page, rule->newValue));
    }
  } catch (...) {
    --rt.ruleDepth;
    throw;
  }
  --rt.ruleDepth;
}

}  // namespace orv
