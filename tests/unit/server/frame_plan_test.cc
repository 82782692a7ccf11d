#include <gtest/gtest.h>

#include "server/frame_plan.h"

namespace vistaro {
namespace {

LatestFrame frameOf(int width, int height, uint64_t seq = 1, DisplayID display = 1) {
  return LatestFrame{seq, PixelBuffer::allocate(width, height), display, 2.0};
}

RequestMessage request(int64_t baseMaxW = 1440, std::optional<std::vector<double>> viewport = std::nullopt,
                       int64_t detailMaxW = 1000, int64_t detailMaxH = 1000) {
  RequestMessage q;
  q.viewport = std::move(viewport);
  q.detailMaxW = detailMaxW;
  q.detailMaxH = detailMaxH;
  q.baseMaxW = baseMaxW;
  return q;
}

struct Client {
  LayerRecord base, detail;
  bool patches = true;
  std::optional<FramePlan> plan(const LatestFrame& frame, const RequestMessage& q) {
    return planFrame(frame, q, patches, base, detail);
  }
};

TEST(FramePlan, FirstMessageCarriesWholeLayersSizedByTheLimits) {
  Client client;
  auto plan = client.plan(frameOf(2880, 1800), request(1440, std::vector<double>{0.25, 0.25, 0.5, 0.5}, 100, 9000));
  ASSERT_TRUE(plan);
  EXPECT_TRUE(plan->base.whole);
  EXPECT_EQ(plan->base.outputWidth, 1440);
  EXPECT_EQ(plan->base.outputHeight, 900);
  EXPECT_TRUE(plan->detail.whole);
  EXPECT_EQ(plan->detail.region, (Rect{720, 450, 1440, 900}));
  // 100 sizes as 320, 9000 as 6000: 320 / 1440 wins.
  EXPECT_EQ(plan->detailMaxWidth, 320);
  EXPECT_EQ(plan->detailMaxHeight, 6000);
  EXPECT_EQ(plan->detail.outputWidth, 320);
  EXPECT_EQ(plan->detail.outputHeight, 200);
  // The key keeps the limits as received.
  EXPECT_NE(client.detail.lastKey.find("-100-9000-"), std::string::npos);
}

TEST(FramePlan, SmallBaseLimitIsRaisedAndNeverEnlarges) {
  Client client;
  auto plan = client.plan(frameOf(1000, 500), request(100));
  EXPECT_EQ(plan->base.outputWidth, 320);
  EXPECT_EQ(plan->base.outputHeight, 160);
  Client other;
  plan = other.plan(frameOf(1000, 500), request(5000));
  EXPECT_EQ(plan->base.outputWidth, 1000);
}

TEST(FramePlan, InvalidViewportGivesNoDetail) {
  Client client;
  auto plan = client.plan(frameOf(1000, 500), request(1440, std::vector<double>{0.5, 0.5, 0, 0.2}));
  ASSERT_TRUE(plan);
  EXPECT_FALSE(plan->viewport);
  EXPECT_FALSE(plan->detail.sends());
  plan = Client{}.plan(frameOf(1000, 500), request(1440, std::vector<double>{0.5, 0.5, 0.2}));
  EXPECT_FALSE(plan->viewport);
}

TEST(FramePlan, UnchangedFrameSendsNothingUntilTheViewportMoves) {
  Client client;
  const LatestFrame frame = frameOf(2000, 1000);
  ASSERT_TRUE(client.plan(frame, request(1440, std::vector<double>{0, 0, 0.5, 0.5})));
  EXPECT_FALSE(client.plan(frame, request(1440, std::vector<double>{0, 0, 0.5, 0.5})));
  auto moved = client.plan(frame, request(1440, std::vector<double>{0.5, 0, 0.5, 0.5}));
  ASSERT_TRUE(moved);
  EXPECT_FALSE(moved->base.sends());
  EXPECT_TRUE(moved->detail.whole);
}

TEST(FramePlan, PatchClientGetsPatchesUpToHalfTheLayer) {
  Client client;
  ASSERT_TRUE(client.plan(frameOf(2880, 1800, 1), request(1440)));
  client.base.addChanges(std::vector<Rect>{{64, 64, 64, 64}});
  auto plan = client.plan(frameOf(2880, 1800, 2), request(1440));
  ASSERT_TRUE(plan);
  EXPECT_FALSE(plan->base.whole);
  ASSERT_EQ(plan->base.patches.size(), 1u);
  EXPECT_EQ(plan->base.patches[0], (Rect{30, 30, 36, 36}));

  client.base.addChanges(std::vector<Rect>{{0, 0, 2880, 1000}});
  plan = client.plan(frameOf(2880, 1800, 3), request(1440));
  EXPECT_TRUE(plan->base.whole);
  EXPECT_TRUE(plan->base.patches.empty());
}

TEST(FramePlan, ClientWithoutPatchesAndUnknownChangesGetWholeLayers) {
  Client plain;
  plain.patches = false;
  ASSERT_TRUE(plain.plan(frameOf(640, 480, 1), request()));
  plain.base.addChanges(std::vector<Rect>{{0, 0, 8, 8}});
  EXPECT_TRUE(plain.plan(frameOf(640, 480, 2), request())->base.whole);

  Client patching;
  ASSERT_TRUE(patching.plan(frameOf(640, 480, 1), request()));
  patching.base.addChanges(std::nullopt);
  EXPECT_TRUE(patching.plan(frameOf(640, 480, 2), request())->base.whole);
}

TEST(FramePlan, ChangesOutsideTheViewportSendNothingForDetail) {
  Client client;
  const auto viewport = std::vector<double>{0, 0, 0.25, 0.25};
  ASSERT_TRUE(client.plan(frameOf(1000, 1000, 1), request(1440, viewport)));
  client.base.addChanges(std::vector<Rect>{{900, 900, 10, 10}});
  client.detail.addChanges(std::vector<Rect>{{900, 900, 10, 10}});
  auto plan = client.plan(frameOf(1000, 1000, 2), request(1440, viewport));
  ASSERT_TRUE(plan);
  EXPECT_FALSE(plan->detail.sends());
  EXPECT_EQ(client.detail.lastSeq, 2u);  // recorded although nothing went out
}

TEST(LayerRecord, LongDirtyListsAreMergedAtOnce) {
  LayerRecord record;
  record.dirty.emplace();
  std::vector<Rect> tiles;
  for (int i = 0; i < 70; ++i) tiles.push_back({i * 200.0, 0, 64, 64});
  record.addChanges(tiles);
  EXPECT_LE(record.dirty->size(), 8u);
  record.addChanges(std::nullopt);
  EXPECT_FALSE(record.dirty);
  record.addChanges(tiles);
  EXPECT_FALSE(record.dirty);  // unknown stays unknown until the layer is sent
}

}  // namespace
}  // namespace vistaro
