#pragma once

#include <string>

#include "core/executor.h"
#include "display/power_services.h"

namespace vistaro::x11 {

// Power saving on an X11 session: colour ramps for curtains (and dimming without a backlight),
// logind for a built-in panel's backlight, XInput 2 for a touch, a shell watchdog, screen saver holds.
PowerServices makeX11PowerServices(Executor& main, const std::string& displayName);

}  // namespace vistaro::x11
