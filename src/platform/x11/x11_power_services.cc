#include "platform/x11/x11_power_services.h"

#include "platform/linux/shell_watchdog.h"
#include "platform/x11/x11_display_brightness.h"
#include "platform/x11/x11_physical_input.h"
#include "platform/x11/x11_screen_gamma.h"
#include "platform/x11/x11_sleep_inhibitor.h"

namespace vistaro::x11 {

PowerServices makeX11PowerServices(Executor& main, const std::string& displayName) {
  PowerServices power;
  auto gamma = std::make_unique<X11ScreenGamma>(displayName);
  power.brightness = std::make_unique<X11DisplayBrightness>(*gamma, LogindBacklight::find());
  power.curtains = std::move(gamma);
  power.inputTap = std::make_unique<X11PhysicalInput>(main, displayName);
  power.watchdog = std::make_unique<ShellWatchdog>();
  power.sleep = std::make_unique<X11SleepInhibitor>(main, displayName);
  return power;
}

}  // namespace vistaro::x11
