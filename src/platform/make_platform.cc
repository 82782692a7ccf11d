#include "platform/make_platform.h"

#include <cstdlib>
#include <stdexcept>

#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/avahi_service_advertiser.h"
#include "platform/x11/x11_application_windows.h"
#include "platform/x11/x11_platform.h"

namespace vistaro {
namespace {

bool set(const char* variable) {
  const char* value = std::getenv(variable);
  return value && *value;
}

}  // namespace

Platform makePlatform(const PlatformOptions& options) {
  if (options.displayName.empty() && !set("DISPLAY")) {
    throw std::runtime_error(set("WAYLAND_DISPLAY")
                                 ? "this is a Wayland session without X11 (XWayland): not supported yet"
                                 : "no display to share: set DISPLAY or pass --display");
  }
  Platform platform = x11::makeX11Platform(options);
  platform.advertiser = std::make_unique<AvahiServiceAdvertiser>();
  platform.accessibility =
      std::make_unique<AtspiAccessibility>(std::make_unique<x11::X11ApplicationWindows>(options.displayName));
  return platform;
}

}  // namespace vistaro
