#include "bootstrap/engine.h"

namespace orv {

std::string Engine::caption() const {
  if (logoOff) return captionTitle;
  if (captionTitle.empty()) return "Orvane Wizard";
  return captionTitle + " - Orvane Wizard";
}

}  // namespace orv
