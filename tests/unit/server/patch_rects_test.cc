#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "server/patch_rects.h"

namespace vistaro {
namespace {

TEST(PatchRects, TileMapsToGrownScaledPatch) {
  // 2880 x 1800 frame, 1440 x 900 base: grown by 3, halved, floor and ceil.
  auto patches = patchRects({{64, 64, 64, 64}}, {0, 0, 2880, 1800}, 1440, 900);
  ASSERT_EQ(patches.size(), 1u);
  EXPECT_EQ(patches[0], (Rect{30, 30, 36, 36}));
}

TEST(PatchRects, ClipsToRegionAndDropsWhatLiesOutside) {
  const Rect region{100, 100, 200, 100};
  auto patches = patchRects({{0, 0, 50, 50}, {290, 190, 20, 20}}, region, 400, 200);
  ASSERT_EQ(patches.size(), 1u);
  // (287..300, 187..200) of the region, at scale 2.
  EXPECT_EQ(patches[0], (Rect{374, 174, 26, 26}));
  EXPECT_TRUE(patchRects({{0, 0, 10, 10}}, {0, 0, 0, 100}, 10, 10).empty());
}

TEST(MergeRects, NearbyRectanglesBecomeOne) {
  auto merged = mergeRects({{0, 0, 10, 10}, {20, 0, 10, 10}});
  ASSERT_EQ(merged.size(), 1u);
  EXPECT_EQ(merged[0], (Rect{0, 0, 30, 10}));
  EXPECT_EQ(mergeRects({{0, 0, 10, 10}, {100, 0, 10, 10}}).size(), 2u);
}

TEST(MergeRects, ManyFarApartRectanglesEndAsAtMostEightCoveringAll) {
  std::vector<Rect> rects;
  for (int i = 0; i < 20; ++i) rects.push_back({i * 100.0, (i % 3) * 300.0, 10, 10});
  auto merged = mergeRects(rects);
  EXPECT_LE(merged.size(), 8u);
  for (const Rect& r : rects) {
    bool covered = false;
    for (const Rect& m : merged) covered = covered || m.unionWith(r) == m;
    EXPECT_TRUE(covered) << r;
  }
}

TEST(MergeRects, LeastWastefulPairGoesFirst) {
  // Nine rectangles far apart; the two closest (waste smallest) merge.
  std::vector<Rect> rects;
  for (int i = 0; i < 8; ++i) rects.push_back({i * 1000.0, 0, 10, 10});
  rects.push_back({7000, 40, 10, 10});
  auto merged = mergeRects(rects);
  ASSERT_EQ(merged.size(), 8u);
  EXPECT_EQ(merged[7], (Rect{7000, 0, 10, 50}));
}

// mergeRects as plainly as it can be written: every merge rescans every pair.
std::vector<Rect> plainMergeRects(std::vector<Rect> rects) {
  for (bool merged = true; merged && rects.size() > 1;) {
    merged = false;
    for (size_t i = 0; i < rects.size() && !merged; ++i) {
      for (size_t j = i + 1; j < rects.size() && !merged; ++j) {
        if (rects[i].insetBy(-16, -16).intersection(rects[j])) {
          rects[i] = rects[i].unionWith(rects[j]);
          rects.erase(rects.begin() + static_cast<std::ptrdiff_t>(j));
          merged = true;
        }
      }
    }
  }
  while (rects.size() > 8) {
    size_t bestI = 0, bestJ = 1;
    double bestWaste = INFINITY;
    for (size_t i = 0; i < rects.size(); ++i) {
      for (size_t j = i + 1; j < rects.size(); ++j) {
        const double waste = rects[i].unionWith(rects[j]).area() - rects[i].area() - rects[j].area();
        if (waste < bestWaste) {
          bestWaste = waste;
          bestI = i;
          bestJ = j;
        }
      }
    }
    rects[bestI] = rects[bestI].unionWith(rects[bestJ]);
    rects.erase(rects.begin() + static_cast<std::ptrdiff_t>(bestJ));
  }
  return rects;
}

TEST(MergeRects, SameResultAsMergingOnePairScanAtATime) {
  std::mt19937 random(5);
  for (int round = 0; round < 300; ++round) {
    // Tiles on a coarse grid give many equal wastes, so the tie rule is exercised too.
    const bool grid = round % 2 == 0;
    const int count = 9 + static_cast<int>(random() % 150);
    std::vector<Rect> rects;
    for (int n = 0; n < count; ++n) {
      if (grid) {
        rects.push_back({double(random() % 23) * 128, double(random() % 15) * 128, 64, 64});
      } else {
        rects.push_back({double(random() % 2800), double(random() % 1750), double(1 + random() % 80),
                         double(1 + random() % 50)});
      }
    }
    ASSERT_EQ(mergeRects(rects), plainMergeRects(rects)) << "round " << round;
  }
}

TEST(Coverage, SumsAreasOverOutput) {
  EXPECT_DOUBLE_EQ(coverage({{0, 0, 10, 10}, {0, 0, 10, 10}}, 20, 20), 0.5);
  EXPECT_DOUBLE_EQ(coverage({{0, 0, 1, 1}}, 0, 0), 1.0);
}

}  // namespace
}  // namespace vistaro
