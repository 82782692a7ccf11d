#pragma once

#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

// Pixels per point of the session: its Xft.dpi resource over 96, or 1.0 when it has none.
double sessionPointScale(::Display* display);

// The same from the text of a resource database (RESOURCE_MANAGER); null means none.
double pointScaleFromResources(const char* resources);

}  // namespace vistaro::x11
