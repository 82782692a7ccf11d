#include "platform/x11/x11_display_brightness.h"

#include <algorithm>

namespace vistaro::x11 {

std::vector<DisplayID> X11DisplayBrightness::onlineDisplays() {
  std::vector<DisplayID> ids;
  for (const Monitor& monitor : gamma_.monitors()) ids.push_back(monitor.id);
  return ids;
}

LogindBacklight* X11DisplayBrightness::backlightOf(DisplayID display) {
  if (!backlight_) return nullptr;
  const std::vector<std::string> outputs = gamma_.outputsOf(display);
  const bool builtIn = std::any_of(outputs.begin(), outputs.end(), [](const std::string& name) {
    return name.starts_with("eDP") || name.starts_with("LVDS") || name.starts_with("DSI");
  });
  return builtIn ? &*backlight_ : nullptr;
}

std::optional<float> X11DisplayBrightness::brightness(DisplayID display) {
  if (LogindBacklight* backlight = backlightOf(display)) return backlight->level();
  return gamma_.level(display);
}

void X11DisplayBrightness::setBrightness(DisplayID display, float level) {
  if (LogindBacklight* backlight = backlightOf(display)) return backlight->setLevel(level);
  gamma_.setLevel(display, level);
}

}  // namespace vistaro::x11
