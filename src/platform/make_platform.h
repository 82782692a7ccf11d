#pragma once

#include "platform/platform.h"

namespace vistaro {

// Looks at the session (today: an X display named by the options or $DISPLAY) and builds its
// services. Throws std::runtime_error, with the user's words, when there is no session the
// host can share.
Platform makePlatform(const PlatformOptions& options);

}  // namespace vistaro
