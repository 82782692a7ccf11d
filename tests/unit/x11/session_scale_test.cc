#include "platform/x11/session_scale.h"

#include <gtest/gtest.h>

namespace vistaro::x11 {
namespace {

TEST(SessionScale, ComesFromXftDpiOverNinetySix) {
  EXPECT_EQ(pointScaleFromResources("Xft.dpi:\t192\n"), 2.0);
  EXPECT_EQ(pointScaleFromResources("Xcursor.size: 24\nXft.dpi: 144\nXft.antialias: 1\n"), 1.5);
}

TEST(SessionScale, IsOneWhenUnknownOrNonsense) {
  EXPECT_EQ(pointScaleFromResources(nullptr), 1.0);
  EXPECT_EQ(pointScaleFromResources(""), 1.0);
  EXPECT_EQ(pointScaleFromResources("Xcursor.size: 24\n"), 1.0);
  EXPECT_EQ(pointScaleFromResources("Xft.dpi: large\n"), 1.0);
  EXPECT_EQ(pointScaleFromResources("Xft.dpi: -96\n"), 1.0);
  EXPECT_EQ(pointScaleFromResources("Xft.dpi: 1e9\n"), 1.0);
}

}  // namespace
}  // namespace vistaro::x11
