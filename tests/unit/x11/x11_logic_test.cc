#include <gtest/gtest.h>

#include <cstring>

#include "platform/x11/cursor_overlay.h"
#include "platform/x11/session_scale.h"

namespace vistaro::x11 {
namespace {

TEST(CursorOverlay, CompositesPremultipliedPixelsClippedToTheFrame) {
  // 3 × 2, hot spot (1, 1): opaque white, transparent, half-transparent white (premultiplied), opaque white.
  CursorImage cursor{3, 2, 1, 1, {0xffffffff, 0x00000000, 0x80808080, 0xffffffff, 0xffffffff, 0xffffffff}};
  auto frame = PixelBuffer::allocate(8, 8);
  std::memset(frame->mutableData(), 200, 8 * 8 * 4);
  drawCursor(*frame, cursor, 3, 3);  // covers (2..4, 2..3)
  EXPECT_EQ(std::vector<uint8_t>(frame->row(2) + 4, frame->row(2) + 20),
            (std::vector<uint8_t>{200, 200, 200, 200, 255, 255, 255, 200, 200, 200, 200, 200, 228, 228, 228, 200}));
  for (auto [x, y, area] : std::initializer_list<std::tuple<int, int, Rect>>{
           {3, 3, {2, 2, 3, 2}}, {0, 0, {0, 0, 2, 1}}, {7, 7, {6, 6, 2, 2}}, {-1, 4, {0, 3, 1, 2}},
           {4, 8, {3, 7, 3, 1}}, {-5, -5, {}}, {20, 3, {}}}) {
    drawCursor(*frame, cursor, x, y);  // writes out of the frame would trip the sanitizers
    EXPECT_EQ(cursorArea(cursor, x, y, 8, 8), area) << x << "," << y;
  }
}

// Also read from a live server's resources in tests/integration/x11; none at all in tests/integration/app.
TEST(SessionScale, IsXftDpiOverNinetySixOrOneWhenNonsense) {
  EXPECT_EQ(std::pair(pointScaleFromResources("Xcursor.size: 24\nXft.dpi: 144\nXft.antialias: 1\n"),
                      pointScaleFromResources("Xft.dpi: 1e9\n")), std::pair(1.5, 1.0));
}

}  // namespace
}  // namespace vistaro::x11
