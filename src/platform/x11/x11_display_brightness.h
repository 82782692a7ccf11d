#pragma once

#include <optional>

#include "display/power_services.h"
#include "platform/linux/logind_backlight.h"
#include "platform/x11/x11_screen_gamma.h"

namespace vistaro::x11 {

// A built-in panel (eDP, LVDS, DSI) with a backlight is dimmed through the backlight; every other
// display through its colour ramps.
class X11DisplayBrightness final : public DisplayBrightness {
 public:
  X11DisplayBrightness(X11ScreenGamma& gamma, std::optional<LogindBacklight> backlight)
      : gamma_(gamma), backlight_(std::move(backlight)) {}

  std::vector<DisplayID> onlineDisplays() override;
  std::optional<float> brightness(DisplayID display) override;
  void setBrightness(DisplayID display, float level) override;

 private:
  LogindBacklight* backlightOf(DisplayID display);

  X11ScreenGamma& gamma_;
  std::optional<LogindBacklight> backlight_;
};

}  // namespace vistaro::x11
