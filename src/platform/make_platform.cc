#include "platform/make_platform.h"

#include <cstdlib>
#include <stdexcept>

#include "platform/linux/avahi_service_advertiser.h"
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
  return platform;
}

}  // namespace vistaro
