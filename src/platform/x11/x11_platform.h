#pragma once

#include "platform/platform.h"

namespace vistaro::x11 {

// The services of an X11 session (advertiser aside); each part has a connection of its own.
Platform makeX11Platform(const PlatformOptions& options);

}  // namespace vistaro::x11
