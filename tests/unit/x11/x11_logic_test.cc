#include <gtest/gtest.h>

#include <cstring>

#include "platform/x11/cursor_overlay.h"
#include "platform/x11/session_scale.h"
#include "platform/x11/x11_monitors.h"

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
  EXPECT_EQ(frame->row(4)[2 * 4], 200);
  EXPECT_EQ(cursorArea(cursor, 3, 3, 8, 8), (Rect{2, 2, 3, 2}));
  for (auto [x, y] : std::initializer_list<std::pair<int, int>>{{0, 0}, {7, 7}, {-1, 4}, {8, 4}, {4, 8}, {-5, -5}}) {
    drawCursor(*frame, cursor, x, y);  // writes out of the frame would trip the sanitizers
    const Rect area = cursorArea(cursor, x, y, 8, 8);
    EXPECT_TRUE(area.isEmpty() || (Rect{0, 0, 8, 8}.intersection(area) == area)) << area;
  }
  EXPECT_EQ(cursorArea(cursor, 0, 0, 8, 8), (Rect{0, 0, 2, 1}));
  EXPECT_TRUE(cursorArea(cursor, -5, -5, 8, 8).isEmpty());
  EXPECT_TRUE(cursorArea(cursor, 20, 3, 8, 8).isEmpty());
  cursor.argb.resize(2);  // shorter than its size: ignored
  std::memset(frame->mutableData(), 10, 8 * 8 * 4);
  drawCursor(*frame, cursor, 1, 1);
  EXPECT_EQ(frame->row(0)[0], 10);
}

TEST(SessionScale, IsXftDpiOverNinetySixOrOneWhenUnknownOrNonsense) {
  for (auto [resources, scale] : std::initializer_list<std::pair<const char*, double>>{
           {"Xft.dpi:\t192\n", 2.0},
           {"Xcursor.size: 24\nXft.dpi: 144\nXft.antialias: 1\n", 1.5},
           {nullptr, 1.0},
           {"", 1.0},
           {"Xcursor.size: 24\n", 1.0},
           {"Xft.dpi: large\n", 1.0},
           {"Xft.dpi: -96\n", 1.0},
           {"Xft.dpi: 1e9\n", 1.0}}) {
    EXPECT_EQ(pointScaleFromResources(resources), scale) << (resources ? resources : "null");
  }
}

TEST(MonitorID, IsFnv1aOfTheNameSoItSurvivesRestarts) {
  EXPECT_EQ(monitorID(""), 0x811c9dc5u);
  EXPECT_EQ(monitorID("a"), 0xe40c292cu);
  EXPECT_EQ(monitorID("foobar"), 0xbf9cf968u);
}

}  // namespace
}  // namespace vistaro::x11
