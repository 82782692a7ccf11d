#include "platform/x11/cursor_overlay.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vistaro::x11 {
namespace {

// A 3 × 2 cursor, hot spot at (1, 1): opaque white, transparent, half-transparent black (premultiplied).
CursorImage smallCursor() {
  return {3, 2, 1, 1, {0xffffffff, 0x00000000, 0x80000000, 0xffffffff, 0xffffffff, 0xffffffff}};
}

std::shared_ptr<PixelBuffer> filled(int width, int height, uint8_t value) {
  auto buffer = PixelBuffer::allocate(width, height);
  std::memset(buffer->mutableData(), value, buffer->bytesPerRow() * height);
  return buffer;
}

uint8_t blueAt(const PixelBuffer& buffer, int x, int y) { return buffer.row(y)[x * 4]; }

TEST(CursorOverlay, CompositesPremultipliedPixelsOverTheFrame) {
  auto frame = filled(8, 8, 200);
  drawCursor(*frame, smallCursor(), 3, 3);  // cursor covers (2..4, 2..3)
  EXPECT_EQ(blueAt(*frame, 2, 2), 255);      // opaque white
  EXPECT_EQ(blueAt(*frame, 3, 2), 200);      // transparent: untouched
  EXPECT_EQ(blueAt(*frame, 4, 2), 100);      // half black over 200
  EXPECT_EQ(blueAt(*frame, 1, 2), 200);      // outside
  EXPECT_EQ(blueAt(*frame, 2, 4), 200);
  EXPECT_EQ(frame->row(2)[2 * 4 + 3], 200);  // the fourth byte is left alone
  EXPECT_EQ(cursorArea(smallCursor(), 3, 3, 8, 8), (Rect{2, 2, 3, 2}));
}

TEST(CursorOverlay, IsClippedAtEveryEdgeOfTheFrame) {
  for (auto [x, y] : {std::pair{0, 0}, std::pair{7, 7}, std::pair{-1, 4}, std::pair{8, 4}, std::pair{4, 8}}) {
    auto frame = filled(8, 8, 10);
    drawCursor(*frame, smallCursor(), x, y);  // out-of-bounds writes would trip the sanitizers
    Rect area = cursorArea(smallCursor(), x, y, 8, 8);
    EXPECT_GE(area.x, 0);
    EXPECT_GE(area.y, 0);
    EXPECT_LE(area.maxX(), 8);
    EXPECT_LE(area.maxY(), 8);
  }
  EXPECT_EQ(cursorArea(smallCursor(), 0, 0, 8, 8), (Rect{0, 0, 2, 1}));
  EXPECT_TRUE(cursorArea(smallCursor(), -5, -5, 8, 8).isEmpty());
  EXPECT_TRUE(cursorArea(smallCursor(), 20, 3, 8, 8).isEmpty());
}

TEST(CursorOverlay, IgnoresAnImageShorterThanItsSize) {
  auto frame = filled(4, 4, 10);
  CursorImage broken = smallCursor();
  broken.argb.resize(2);
  drawCursor(*frame, broken, 1, 1);
  EXPECT_EQ(blueAt(*frame, 0, 0), 10);
}

}  // namespace
}  // namespace vistaro::x11
