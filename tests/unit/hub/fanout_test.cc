// The fan-out's arithmetic: layer sizes, patches, merging, and the frame body.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <random>

#include "core/dirty_region.h"
#include "fakes/capture/fake_layer_encoder.h"
#include "server/fanout/frame_job.h"
#include "server/fanout/frame_plan.h"
#include "server/fanout/patch_rects.h"

namespace vistaro::testing {
namespace {

LatestFrame frameOf(int width, int height, uint64_t seq = 1) { return {seq, PixelBuffer::allocate(width, height), 1, 2.0}; }
RequestMessage request(int64_t baseMaxW, std::optional<std::vector<double>> viewport = {}, int64_t w = 1000,
                       int64_t h = 1000) {
  return {.viewport = std::move(viewport), .detailMaxW = w, .detailMaxH = h, .baseMaxW = baseMaxW};
}

struct Client {
  LayerRecord base, detail;
  bool patches = true;
  std::optional<FramePlan> plan(const LatestFrame& frame, const RequestMessage& q) {
    return planFrame(frame, q, patches, base, detail);
  }
};

TEST(FramePlan, LayersAreSizedByTheClampedLimitsAndNeverEnlarged) {
  Client client;
  auto plan = client.plan(frameOf(2880, 1800), request(1440, std::vector<double>{0.25, 0.25, 0.5, 0.5}, 100, 9000));
  ASSERT_TRUE(plan && plan->base.whole && plan->detail.whole);
  EXPECT_EQ(plan->base.outputWidth, 1440);
  EXPECT_EQ(plan->base.outputHeight, 900);
  EXPECT_EQ(plan->detail.region, (Rect{720, 450, 1440, 900}));
  // 100 counts as 320, 9000 as 6000: 320 / 1440 wins; the key keeps the limits as received.
  EXPECT_EQ(plan->detail.outputWidth, 320);
  EXPECT_EQ(plan->detail.outputHeight, 200);
  EXPECT_NE(client.detail.lastKey.find("-100-9000-"), std::string::npos);
  EXPECT_EQ(Client{}.plan(frameOf(1000, 500), request(100))->base.outputWidth, 320);
  EXPECT_EQ(Client{}.plan(frameOf(1000, 500), request(5000))->base.outputWidth, 1000);
  // Within 0.1 % of the frame the encoder sends the frame's own pixels, and the plan agrees:
  // otherwise patches land a pixel off and the last column is never patched.
  EXPECT_EQ(Client{}.plan(frameOf(2560, 1600), request(2558))->base.outputWidth, 2560);
  // Only four numbers with a width and height make a viewport.
  for (auto viewport : {std::vector<double>{0.5, 0.5, 0, 0.2}, std::vector<double>{0.5, 0.5, 0.2}}) {
    auto noDetail = Client{}.plan(frameOf(1000, 500), request(1440, viewport));
    EXPECT_FALSE(noDetail->viewport);
    EXPECT_FALSE(noDetail->detail.sends());
  }
}

TEST(FramePlan, PatchesUpToHalfTheLayerWholeBeyondOrWhenChangesAreUnknown) {
  Client client;
  const auto viewport = std::vector<double>{0, 0, 0.25, 0.25};
  ASSERT_TRUE(client.plan(frameOf(2880, 1800, 1), request(1440, viewport)));
  for (LayerRecord* record : {&client.base, &client.detail}) record->dirty.add(DirtyRegion::of({{2000, 1500, 64, 64}}));
  auto plan = client.plan(frameOf(2880, 1800, 2), request(1440, viewport));
  ASSERT_EQ(plan->base.patches.size(), 1u);
  EXPECT_FALSE(plan->detail.sends());    // the change lies outside the viewport
  EXPECT_EQ(client.detail.lastSeq, 2u);  // recorded although nothing went out

  client.base.dirty.add(DirtyRegion::of({{0, 0, 2880, 1000}}));
  EXPECT_TRUE(client.plan(frameOf(2880, 1800, 3), request(1440, viewport))->base.whole);
  client.base.dirty.add(DirtyRegion::unknown());
  EXPECT_TRUE(client.plan(frameOf(2880, 1800, 4), request(1440, viewport))->base.whole);
  client.patches = false;
  client.base.dirty.add(DirtyRegion::of({{0, 0, 8, 8}}));
  EXPECT_TRUE(client.plan(frameOf(2880, 1800, 5), request(1440, viewport))->base.whole);
}

TEST(PatchRects, TilesMapToGrownScaledPatchesClippedToTheRegion) {
  // 2880 x 1800 frame, 1440 x 900 base: grown by 3, halved, floor and ceil.
  EXPECT_EQ(patchRects({{64, 64, 64, 64}}, {0, 0, 2880, 1800}, 1440, 900), (std::vector<Rect>{{30, 30, 36, 36}}));
  // (287..300, 187..200) of the region, at scale 2; the other lies outside.
  EXPECT_EQ(patchRects({{0, 0, 50, 50}, {290, 190, 20, 20}}, {100, 100, 200, 100}, 400, 200),
            (std::vector<Rect>{{374, 174, 26, 26}}));
  EXPECT_TRUE(patchRects({{0, 0, 10, 10}}, {0, 0, 0, 100}, 10, 10).empty());
  EXPECT_DOUBLE_EQ(coverage({{0, 0, 10, 10}, {0, 0, 10, 10}}, 20, 20), 0.5);
}

// mergeRects as plainly as it can be written: every merge rescans every pair.
std::vector<Rect> plainMergeRects(std::vector<Rect> rects) {
  for (bool merged = true; merged && rects.size() > 1;) {
    merged = false;
    for (size_t i = 0; i < rects.size() && !merged; ++i) {
      for (size_t j = i + 1; j < rects.size() && !merged; ++j) {
        if (!rects[i].insetBy(-16, -16).intersection(rects[j])) continue;
        rects[i] = rects[i].unionWith(rects[j]);
        rects.erase(rects.begin() + static_cast<std::ptrdiff_t>(j));
        merged = true;
      }
    }
  }
  while (rects.size() > 8) {
    size_t bestI = 0, bestJ = 1;
    double bestWaste = INFINITY;
    for (size_t i = 0; i < rects.size(); ++i) {
      for (size_t j = i + 1; j < rects.size(); ++j) {
        const double waste = rects[i].unionWith(rects[j]).area() - rects[i].area() - rects[j].area();
        if (waste < bestWaste) bestWaste = waste, bestI = i, bestJ = j;
      }
    }
    rects[bestI] = rects[bestI].unionWith(rects[bestJ]);
    rects.erase(rects.begin() + static_cast<std::ptrdiff_t>(bestJ));
  }
  return rects;
}

TEST(MergeRects, SameResultAsMergingOnePairScanAtATime) {
  EXPECT_EQ(mergeRects({{0, 0, 10, 10}, {20, 0, 10, 10}}), (std::vector<Rect>{{0, 0, 30, 10}}));
  std::mt19937 random(5);
  for (int round = 0; round < 300; ++round) {
    // Tiles on a coarse grid give many equal wastes, so the tie rule is exercised too.
    const bool grid = round % 2 == 0;
    std::vector<Rect> rects;
    for (int n = 9 + static_cast<int>(random() % 150); n > 0; --n) {
      rects.push_back(grid ? Rect{double(random() % 23) * 128, double(random() % 15) * 128, 64, 64}
                           : Rect{double(random() % 2800), double(random() % 1750), double(1 + random() % 80),
                                  double(1 + random() % 50)});
    }
    ASSERT_EQ(mergeRects(rects), plainMergeRects(rects)) << "round " << round;
  }
}

nlohmann::json headerOf(const Bytes& body) {
  const uint32_t length = uint32_t{body[0]} << 24 | uint32_t{body[1]} << 16 | uint32_t{body[2]} << 8 | body[3];
  return length ? nlohmann::json::parse(body.begin() + 4, body.begin() + 4 + length) : nlohmann::json();
}

FramePlan wholeLayers(bool patchClient) {
  FramePlan plan{.frame = {7, PixelBuffer::allocate(200, 100), 3, 2.0}, .patchClient = patchClient, .baseMaxWidth = 320};
  plan.base = LayerPlan{{0, 0, 200, 100}, 200, 100, true, {}};
  plan.viewport = Rect{0.5, 0, 0.5, 1};
  plan.detailMaxWidth = plan.detailMaxHeight = 320;
  plan.detail = LayerPlan{{100, 0, 100, 100}, 100, 100, true, {}};
  return plan;
}

TEST(FrameBody, HeaderThenImagesAndFailedImagesLeftOutAndMarked) {
  FakeLayerEncoder encoder;
  EncodedFrame frame = encodeFrame(encoder, wholeLayers(false));
  auto header = headerOf(frame.body);
  EXPECT_EQ(header["seq"], 7);
  EXPECT_EQ(header["displayID"], 3);
  EXPECT_EQ(header["detailRect"], nlohmann::json::array({0.5, 0, 0.5, 1}));
  EXPECT_FALSE(header.contains("partial") || header.contains("basePatches"));
  EXPECT_EQ(frame.body.size() - 4 - header.dump().size(), 50u);  // base 20 then detail 30
  EXPECT_EQ(frame.body.back(), 'L');

  FramePlan patched = wholeLayers(true);
  patched.base.whole = patched.detail.whole = false;
  patched.base.patches = {{10, 20, 30, 40}, {50, 60, 5, 5}};
  header = headerOf(encodeFrame(encoder, patched).body);
  EXPECT_EQ(header["partial"], true);
  EXPECT_EQ(header["basePatches"][0], (nlohmann::json{{"x", 10}, {"y", 20}, {"w", 30}, {"h", 40}, {"len", 7}}));
  EXPECT_FALSE(header.contains("detailPatches"));

  encoder.failLayers = true;
  EncodedFrame lost = encodeFrame(encoder, wholeLayers(true));
  EXPECT_EQ(headerOf(lost.body)["baseLen"], 0);
  EXPECT_TRUE(lost.baseIncomplete && lost.detailIncomplete);
  encoder.failPatches = true;
  EncodedFrame partial = encodeFrame(encoder, patched);
  EXPECT_TRUE(partial.baseIncomplete);
  EXPECT_FALSE(partial.detailIncomplete);
  FramePlan outside = wholeLayers(true);
  outside.detail.region = Rect{};  // a viewport outside the frame is not a lost layer
  EXPECT_FALSE(encodeFrame(encoder, outside).detailIncomplete);

  FramePlan infinite = wholeLayers(false);
  infinite.frame.pointScale = std::numeric_limits<double>::infinity();
  encoder.failLayers = false;
  const Bytes body = encodeFrame(encoder, infinite).body;
  EXPECT_EQ(body[0] | body[1] | body[2] | body[3], 0);  // an unencodable header goes as length 0
  EXPECT_EQ(body.size(), 4u + 50u);
}

}  // namespace
}  // namespace vistaro::testing
