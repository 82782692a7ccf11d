#include "platform/x11/x11_monitors.h"

#include <gtest/gtest.h>

namespace vistaro::x11 {
namespace {

TEST(MonitorID, IsFnv1aOfTheNameSoItSurvivesRestarts) {
  EXPECT_EQ(monitorID(""), 0x811c9dc5u);
  EXPECT_EQ(monitorID("a"), 0xe40c292cu);
  EXPECT_EQ(monitorID("foobar"), 0xbf9cf968u);
}

}  // namespace
}  // namespace vistaro::x11
