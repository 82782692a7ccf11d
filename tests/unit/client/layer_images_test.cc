#include "client/layer_images.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "capture/jpeg_writer.h"

namespace vistaro::client {
namespace {

RgbImage filled(int width, int height, uint8_t value) {
  return RgbImage{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3, value)};
}

// A flat grey JPEG: decodes to (nearly) the value everywhere.
Bytes flatJpeg(int width, int height, uint8_t value) {
  std::vector<uint8_t> bgra(static_cast<size_t>(width) * height * 4, value);
  JpegWriter writer;
  return *writer.writeBgra(bgra.data(), static_cast<size_t>(width) * 4, width, height, 95);
}

bool near(uint8_t actual, uint8_t expected) { return std::abs(actual - expected) <= 2; }

TEST(LayerImagesTest, WholeLayersReplaceAndPatchesDrawOntoThem) {
  const Bytes base = flatJpeg(64, 32, 10);
  const Bytes patch = flatJpeg(8, 4, 200);
  FrameMessage message;
  message.base = base;
  LayerImages layers;
  EXPECT_TRUE(layers.apply(message));
  ASSERT_TRUE(layers.base());
  EXPECT_EQ(layers.base()->width, 64);
  EXPECT_FALSE(layers.detail());

  FrameMessage partial;
  partial.header.basePatches = std::vector<PatchInfo>{{60, 30, 8, 4, int64_t(patch.size())}};
  partial.basePatches = {patch};
  EXPECT_TRUE(layers.apply(partial));
  EXPECT_TRUE(near(*layers.base()->pixel(63, 31), 200)) << "clipped at the corner";
  EXPECT_TRUE(near(*layers.base()->pixel(59, 31), 10));
  EXPECT_TRUE(near(*layers.base()->pixel(63, 29), 10));

  // A detail patch before any whole detail layer has nothing to draw on.
  FrameMessage orphan;
  orphan.header.detailPatches = partial.header.basePatches;
  orphan.detailPatches = {patch};
  EXPECT_FALSE(layers.apply(orphan));
  EXPECT_FALSE(layers.detail());

  FrameMessage broken;
  const Bytes garbage(50, 0x42);
  broken.base = garbage;
  EXPECT_FALSE(layers.apply(broken));
  EXPECT_EQ(layers.base()->width, 64) << "the held layer survives an undecodable replacement";
}

TEST(LayerImagesTest, DrawingStaysInsideTheTarget) {
  const RgbImage source = filled(4, 2, 9);
  RgbImage target = filled(10, 10, 0);
  for (const auto& [x, y, w, h] : std::vector<std::array<int64_t, 4>>{
           {-2, -1, 4, 2}, {8, 9, 4, 2}, {INT64_MAX, 0, 4, 2}, {INT64_MIN, INT64_MIN, INT64_MAX, INT64_MAX},
           {0, 0, INT64_MAX, INT64_MAX}, {3, 3, 0, 5}, {3, 3, -4, 2}}) {
    drawScaled(source, target, x, y, w, h);
  }
  EXPECT_EQ(target.rgb.size(), 300u);
  EXPECT_EQ(*target.pixel(0, 0), 9);
  EXPECT_EQ(*target.pixel(9, 9), 9);

  // A source of another size is stretched over the rectangle it is given.
  RgbImage stretched = filled(10, 10, 0);
  drawScaled(source, stretched, 1, 1, 8, 4);
  EXPECT_EQ(*stretched.pixel(1, 1), 9);
  EXPECT_EQ(*stretched.pixel(8, 4), 9);
  EXPECT_EQ(*stretched.pixel(9, 4), 0);
  EXPECT_EQ(*stretched.pixel(8, 5), 0);
}

TEST(LayerImagesTest, WritesBinaryPpm) {
  RgbImage image = filled(3, 2, 0);
  image.pixel(2, 1)[0] = 255;
  const auto path = std::filesystem::path(::testing::TempDir()) / "layer.ppm";
  ASSERT_TRUE(writePpm(image, path));
  std::ifstream file(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes.substr(0, 11), "P6\n3 2\n255\n");
  ASSERT_EQ(bytes.size(), 11u + 18);
  EXPECT_EQ(static_cast<uint8_t>(bytes[11 + 15]), 255);
  EXPECT_FALSE(writePpm(image, "/nonexistent-dir/x.ppm"));
}

}  // namespace
}  // namespace vistaro::client
