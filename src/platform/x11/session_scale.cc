#include "platform/x11/session_scale.h"

#include <X11/Xlib.h>
#include <X11/Xresource.h>

#include <cmath>
#include <cstdlib>
#include <mutex>

namespace vistaro::x11 {

double pointScaleFromResources(const char* resources) {
  if (!resources) return 1.0;
  static std::once_flag once;
  std::call_once(once, [] { XrmInitialize(); });
  XrmDatabase database = XrmGetStringDatabase(resources);
  if (!database) return 1.0;
  char* type = nullptr;
  XrmValue value{};
  double dpi = 0;
  if (XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr) {
    char* end = nullptr;
    dpi = std::strtod(value.addr, &end);
    if (end == value.addr) dpi = 0;
  }
  XrmDestroyDatabase(database);
  // Anything outside a sane range is a typo in someone's Xresources, not a 40× screen.
  if (!std::isfinite(dpi) || dpi < 24 || dpi > 960) return 1.0;
  return dpi / 96.0;
}

double sessionPointScale(::Display* display) { return pointScaleFromResources(XResourceManagerString(display)); }

}  // namespace vistaro::x11
