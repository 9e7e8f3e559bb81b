#include "script/dialog.h"

#include "core/text.h"

namespace orv {

std::string dialogResultText(const DialogAnswer& answer) {
  switch (answer.result) {
    case DialogResult::NotModal: return "NOTMODAL";
    case DialogResult::Cancel: return "CANCEL";
    case DialogResult::Next: return "NEXT";
    case DialogResult::Back: return "BACK";
    case DialogResult::Custom: return upper(answer.customName);
  }
  return {};
}

}  // namespace orv
