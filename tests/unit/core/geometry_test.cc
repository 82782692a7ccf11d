#include <gtest/gtest.h>

#include "core/geometry.h"

namespace vistaro {
namespace {

TEST(Rect, IntegralWidensFractionalEdgesOutwards) {
  EXPECT_EQ((Rect{0.5, 1.25, 2.0, 3.5}.integral()), (Rect{0, 1, 3, 4}));
  EXPECT_EQ((Rect{63.5, 0, 1, 1}.integral()), (Rect{63, 0, 2, 1}));
}

TEST(Rect, IntersectionDistinguishesDisjointFromTouching) {
  const Rect frame{0, 0, 100, 50};
  EXPECT_EQ(frame.intersection({90, 40, 20, 20}), (Rect{90, 40, 10, 10}));
  EXPECT_FALSE(frame.intersection({200, 0, 10, 10}).has_value());
  auto touching = frame.intersection({100, 0, 10, 10});
  ASSERT_TRUE(touching.has_value());
  EXPECT_TRUE(touching->isEmpty());
  EXPECT_FALSE(frame.intersects({100, 0, 10, 10}));
}

TEST(Rect, UnionCoversBoth) {
  EXPECT_EQ((Rect{0, 0, 10, 10}.unionWith({20, 5, 5, 10})), (Rect{0, 0, 25, 15}));
}

}  // namespace
}  // namespace vistaro
