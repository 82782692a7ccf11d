#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "fakes/fake_layer_encoder.h"
#include "server/frame_job.h"

namespace vistaro {
namespace {

struct ParsedBody {
  nlohmann::json header;
  size_t imageBytes = 0;
};

ParsedBody parse(const Bytes& body) {
  const uint32_t length = (uint32_t{body[0]} << 24) | (uint32_t{body[1]} << 16) | (uint32_t{body[2]} << 8) | body[3];
  ParsedBody parsed;
  if (length > 0) parsed.header = nlohmann::json::parse(body.begin() + 4, body.begin() + 4 + length);
  parsed.imageBytes = body.size() - 4 - length;
  return parsed;
}

FramePlan planWithWholeLayers(bool patchClient) {
  FramePlan plan;
  plan.frame = LatestFrame{7, PixelBuffer::allocate(200, 100), 3, 2.0};
  plan.patchClient = patchClient;
  plan.baseMaxWidth = 320;
  plan.base = LayerPlan{{0, 0, 200, 100}, 200, 100, true, {}};
  plan.viewport = Rect{0.5, 0, 0.5, 1};
  plan.detailMaxWidth = plan.detailMaxHeight = 320;
  plan.detail = LayerPlan{{100, 0, 100, 100}, 100, 100, true, {}};
  return plan;
}

TEST(FrameJob, WholeLayersFollowTheHeaderInOrder) {
  testing::FakeLayerEncoder encoder;
  EncodedFrame frame = encodeFrame(encoder, planWithWholeLayers(false));
  ParsedBody body = parse(frame.body);
  EXPECT_EQ(body.header["seq"], 7);
  EXPECT_EQ(body.header["displayID"], 3);
  EXPECT_EQ(body.header["screenW"], 200);
  EXPECT_EQ(body.header["baseLen"], 20);
  EXPECT_EQ(body.header["detailLen"], 30);
  EXPECT_EQ(body.header["detailRect"], nlohmann::json::array({0.5, 0, 0.5, 1}));
  EXPECT_FALSE(body.header.contains("partial"));
  EXPECT_FALSE(body.header.contains("basePatches"));
  EXPECT_EQ(body.imageBytes, 50u);
  EXPECT_EQ(frame.body[body.imageBytes == 50 ? frame.body.size() - 50 : 0], 'L');
  EXPECT_FALSE(frame.baseIncomplete || frame.detailIncomplete);
  EXPECT_EQ(encoder.calls, (std::vector<std::string>{"layer 320x4611686018427387904 q0.72", "layer 320x320 q0.8"}));
}

TEST(FrameJob, PatchClientsGetPatchListsAndTheDetailRectWithoutADetailImage) {
  FramePlan plan = planWithWholeLayers(true);
  plan.base.whole = false;
  plan.base.patches = {{10.0, 20.0, 30.0, 40.0}, {50.0, 60.0, 5.0, 5.0}};
  plan.detail.whole = false;
  testing::FakeLayerEncoder encoder;
  ParsedBody body = parse(encodeFrame(encoder, plan).body);
  EXPECT_EQ(body.header["partial"], true);
  EXPECT_EQ(body.header["baseLen"], 0);
  ASSERT_EQ(body.header["basePatches"].size(), 2u);
  EXPECT_EQ(body.header["basePatches"][0],
            (nlohmann::json{{"x", 10}, {"y", 20}, {"w", 30}, {"h", 40}, {"len", 7}}));
  EXPECT_FALSE(body.header.contains("detailPatches"));
  EXPECT_EQ(body.header["detailRect"], nlohmann::json::array({0.5, 0, 0.5, 1}));
  EXPECT_EQ(body.imageBytes, 14u);
}

TEST(FrameJob, FailedImagesAreLeftOutAndMarkTheLayerIncomplete) {
  testing::FakeLayerEncoder encoder;
  encoder.failLayers = true;
  EncodedFrame whole = encodeFrame(encoder, planWithWholeLayers(true));
  ParsedBody body = parse(whole.body);
  EXPECT_EQ(body.header["baseLen"], 0);
  EXPECT_EQ(body.header["detailLen"], 0);
  EXPECT_EQ(body.imageBytes, 0u);
  EXPECT_TRUE(whole.baseIncomplete);
  EXPECT_TRUE(whole.detailIncomplete);

  FramePlan patched = planWithWholeLayers(true);
  patched.base.whole = false;
  patched.base.patches = {{0, 0, 8, 8}};
  patched.detail.whole = false;
  encoder.failLayers = false;
  encoder.failPatches = true;
  EncodedFrame partial = encodeFrame(encoder, patched);
  EXPECT_EQ(parse(partial.body).header["basePatches"], nlohmann::json::array());
  EXPECT_TRUE(partial.baseIncomplete);
  EXPECT_FALSE(partial.detailIncomplete);
}

TEST(FrameJob, ViewportOutsideTheFrameIsNotALostLayer) {
  FramePlan plan = planWithWholeLayers(true);
  plan.detail.region = Rect{};
  testing::FakeLayerEncoder encoder;
  encoder.failLayers = true;
  EXPECT_FALSE(encodeFrame(encoder, plan).detailIncomplete);
}

TEST(FrameJob, UnencodableHeaderIsSentAsLengthZero) {
  FramePlan plan = planWithWholeLayers(false);
  plan.frame.pointScale = std::numeric_limits<double>::infinity();
  testing::FakeLayerEncoder encoder;
  EncodedFrame frame = encodeFrame(encoder, plan);
  EXPECT_EQ(frame.body[0] | frame.body[1] | frame.body[2] | frame.body[3], 0);
  EXPECT_EQ(frame.body.size(), 4u + 50u);
}

}  // namespace
}  // namespace vistaro
