#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "display/power_services.h"
#include "platform/x11/crtc_gamma.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_monitors.h"

namespace vistaro::x11 {

// The monitors' colour ramps as power saving uses them: a level per display (the dimming where no
// backlight can be set) and black curtains over every CRTC. Each CRTC's ramp is remembered the
// first time it is changed and written back as it was when both are undone. Main executor.
class X11ScreenGamma final : public ScreenCurtains {
 public:
  explicit X11ScreenGamma(std::string displayName) : displayName_(std::move(displayName)) {}

  std::vector<Monitor> monitors();
  // The outputs that show this display ("eDP-1", ...).
  std::vector<std::string> outputsOf(DisplayID display);
  std::optional<float> level(DisplayID display);
  void setLevel(DisplayID display, float level);

  void show() override;
  void hide() override;
  bool coverScreens() override;
  void clearLeftovers() override;

 private:
  struct Changed {
    GammaRamp original;
    float level;
  };
  ::Display* display();
  std::vector<Crtc> crtcsOf(DisplayID display);
  Changed* remember(unsigned long crtc);
  void apply(unsigned long crtc);

  std::string displayName_;
  std::unique_ptr<Connection> connection_;
  std::map<unsigned long, Changed> changed_;
  bool curtained_ = false;
  std::set<unsigned long> covered_;
};

}  // namespace vistaro::x11
