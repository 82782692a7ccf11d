#pragma once

#include "core/dirty_region.h"
#include "core/display_info.h"
#include "core/pixel_buffer.h"

namespace vistaro {

// One frame of a display as it travels from the capture source to the hub.
struct CapturedFrame {
  SharedPixels pixels;
  DisplayID display = 0;
  double pointScale = 1.0;  // pixels per point of the display
  DirtyRegion changes = DirtyRegion::unknown();
};

}  // namespace vistaro
