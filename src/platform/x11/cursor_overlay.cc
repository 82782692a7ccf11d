#include "platform/x11/cursor_overlay.h"

#include <algorithm>

namespace vistaro::x11 {
namespace {

struct Span {
  int left, top, right, bottom;  // frame pixels, right/bottom exclusive
  bool empty() const { return left >= right || top >= bottom; }
};

Span clippedSpan(const CursorImage& cursor, int x, int y, int frameWidth, int frameHeight) {
  int left = x - cursor.hotX, top = y - cursor.hotY;
  return {std::max(left, 0), std::max(top, 0), std::min(left + cursor.width, frameWidth),
          std::min(top + cursor.height, frameHeight)};
}

}  // namespace

Rect cursorArea(const CursorImage& cursor, int x, int y, int frameWidth, int frameHeight) {
  Span span = clippedSpan(cursor, x, y, frameWidth, frameHeight);
  if (span.empty()) return {};
  return {double(span.left), double(span.top), double(span.right - span.left), double(span.bottom - span.top)};
}

void drawCursor(PixelBuffer& frame, const CursorImage& cursor, int x, int y) {
  if (cursor.argb.size() < size_t(cursor.width) * size_t(cursor.height)) return;
  Span span = clippedSpan(cursor, x, y, frame.width(), frame.height());
  if (span.empty()) return;
  int left = x - cursor.hotX, top = y - cursor.hotY;
  for (int row = span.top; row < span.bottom; ++row) {
    const uint32_t* source = cursor.argb.data() + size_t(row - top) * cursor.width + (span.left - left);
    uint8_t* target = frame.mutableRow(row) + size_t(span.left) * 4;
    for (int column = span.left; column < span.right; ++column, ++source, target += 4) {
      uint32_t pixel = *source;
      uint32_t alpha = pixel >> 24;
      if (alpha == 0) continue;
      uint32_t keep = 255 - alpha;
      // Premultiplied "over": source + target × (1 − α); clamped for images that are not
      // really premultiplied.
      for (int channel = 0; channel < 3; ++channel) {
        uint32_t over = ((pixel >> (8 * channel)) & 0xff) + (target[channel] * keep + 127) / 255;
        target[channel] = uint8_t(std::min(over, 255u));
      }
    }
  }
}

}  // namespace vistaro::x11
