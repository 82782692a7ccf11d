#pragma once

#include <cstdint>
#include <vector>

#include "core/geometry.h"
#include "core/pixel_buffer.h"

namespace vistaro::x11 {

// The pointer's picture as XFixes gives it: premultiplied ARGB, hot spot inside the image.
struct CursorImage {
  int width = 0;
  int height = 0;
  int hotX = 0;
  int hotY = 0;
  std::vector<uint32_t> argb;
  bool operator==(const CursorImage&) const = default;
};

// The frame pixels the cursor covers with its hot spot at (x, y); empty when it is off the frame.
Rect cursorArea(const CursorImage& cursor, int x, int y, int frameWidth, int frameHeight);

// Composites the cursor over a BGRA frame, clipped to the frame.
void drawCursor(PixelBuffer& frame, const CursorImage& cursor, int x, int y);

}  // namespace vistaro::x11
