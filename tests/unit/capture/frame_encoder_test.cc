#include "capture/frame_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "capture/srgb_profile.h"
#include "fakes/capture/test_images.h"

namespace vistaro {
namespace {

using testing::decodeJpeg;
using testing::desktopLikeFrame;

constexpr int64_t unlimited = int64_t{1} << 62;

struct Size {
  int width, height;
  bool operator==(const Size&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Size& size) { return out << size.width << "x" << size.height; }

Size sizeOf(const std::vector<uint8_t>& jpeg) {
  const auto decoded = decodeJpeg(jpeg);
  return decoded ? Size{decoded->width, decoded->height} : Size{0, 0};
}

class FrameEncoderTest : public ::testing::Test {
 protected:
  FrameEncoder encoder;
};

TEST_F(FrameEncoderTest, LayersFitTheLimitsWithoutEverEnlarging) {
  auto retina = desktopLikeFrame(2880, 1800);
  auto base = encoder.encode(*retina, std::nullopt, 1440, unlimited, 0.72);
  ASSERT_TRUE(base);
  EXPECT_EQ(sizeOf(base->jpeg), (Size{1440, 900}));
  EXPECT_EQ(base->normalizedRect, (Rect{0, 0, 1, 1}));

  auto frame = desktopLikeFrame(2000, 1000);
  EXPECT_EQ(sizeOf(encoder.encode(*frame, std::nullopt, 2000, unlimited, 0.72)->jpeg), (Size{2000, 1000}));
  EXPECT_EQ(sizeOf(encoder.encode(*frame, std::nullopt, 5000, unlimited, 0.72)->jpeg), (Size{2000, 1000}));
  // 1999 / 2000 = 0.9995 is within the no-resampling band.
  EXPECT_EQ(sizeOf(encoder.encode(*frame, std::nullopt, 1999, unlimited, 0.72)->jpeg), (Size{2000, 1000}));
  EXPECT_EQ(sizeOf(encoder.encode(*frame, std::nullopt, 1997, unlimited, 0.72)->jpeg), (Size{1997, 998}));
  // The tighter limit wins and keeps the aspect ratio.
  EXPECT_EQ(sizeOf(encoder.encode(*frame, std::nullopt, 6000, 320, 0.8)->jpeg), (Size{640, 320}));
  EXPECT_EQ(sizeOf(encoder.encode(*frame, std::nullopt, 1, unlimited, 0.8)->jpeg), (Size{1, 1}));
}

TEST_F(FrameEncoderTest, RegionsAreWidenedToWholePixelsAndClipped) {
  auto frame = desktopLikeFrame(2000, 1000);
  auto viewport = encoder.encode(*frame, Rect{0.25, 0.25, 0.5, 0.5}, 6000, 6000, 0.8);
  ASSERT_TRUE(viewport);
  EXPECT_EQ(sizeOf(viewport->jpeg), (Size{1000, 500}));
  EXPECT_EQ(viewport->normalizedRect, (Rect{0.25, 0.25, 0.5, 0.5}));

  auto fractional = encoder.encode(*frame, Rect{0.10005, 0.2011, 0.3, 0.4}, 6000, 6000, 0.8);
  ASSERT_TRUE(fractional);  // pixels 200.1 .. 800.1 and 201.1 .. 601.1
  EXPECT_EQ(sizeOf(fractional->jpeg), (Size{601, 401}));
  EXPECT_DOUBLE_EQ(fractional->normalizedRect.x, 0.1);
  EXPECT_DOUBLE_EQ(fractional->normalizedRect.width, 0.3005);
  EXPECT_DOUBLE_EQ(fractional->normalizedRect.y, 0.201);
  EXPECT_DOUBLE_EQ(fractional->normalizedRect.height, 0.401);

  auto overhanging = encoder.encode(*frame, Rect{0.9, -0.5, 0.5, 1.0}, 6000, 6000, 0.8);
  ASSERT_TRUE(overhanging);
  EXPECT_EQ(sizeOf(overhanging->jpeg), (Size{200, 500}));
  EXPECT_EQ(overhanging->normalizedRect, (Rect{0.9, 0, 0.1, 0.5}));

  EXPECT_FALSE(encoder.encode(*frame, Rect{1.2, 0, 0.5, 0.5}, 6000, 6000, 0.8));
  EXPECT_FALSE(encoder.encode(*frame, Rect{1.0, 0, 0.5, 0.5}, 6000, 6000, 0.8));
  EXPECT_FALSE(encoder.encode(*frame, Rect{0.5, 0.5, 0, 0}, 6000, 6000, 0.8));
}

TEST_F(FrameEncoderTest, PatchesHaveExactlyTheirSizeAndMatchTheLayer) {
  auto frame = desktopLikeFrame(2880, 1800);
  const Rect layer{0, 0, 2880, 1800};
  auto base = encoder.encode(*frame, std::nullopt, 1440, unlimited, 0.8);
  auto patch = encoder.encodePatch(*frame, layer, 1440, 900, Rect{96, 48, 64, 64}, 0.8);
  ASSERT_TRUE(base && patch);
  const auto layerPixels = decodeJpeg(base->jpeg);
  const auto patchPixels = decodeJpeg(*patch);
  ASSERT_EQ((Size{patchPixels->width, patchPixels->height}), (Size{64, 64}));
  // Same filter phases as the layer: only JPEG's own losses tell them apart.
  std::vector<uint8_t> fromLayer;
  for (int y = 0; y < 64; ++y) {
    const auto* row = &layerPixels->rgb[((48 + y) * 1440 + 96) * 3];
    fromLayer.insert(fromLayer.end(), row, row + 64 * 3);
  }
  EXPECT_GT(testing::psnr(fromLayer.data(), patchPixels->rgb.data(), 64 * 64, 3), 33);

  EXPECT_EQ(sizeOf(*encoder.encodePatch(*frame, layer, 1440, 900, Rect{10.5, 3.2, 7.9, 12.99}, 0.8)),
            (Size{7, 12}));
  EXPECT_FALSE(encoder.encodePatch(*frame, layer, 1440, 900, Rect{10, 10, 0.9, 20}, 0.8));
  EXPECT_FALSE(encoder.encodePatch(*frame, layer, 1440, 900, Rect{10, 10, 20, 0.5}, 0.8));
  EXPECT_FALSE(encoder.encodePatch(*frame, layer, 1440, 900, Rect{10, 10, -20, 5}, 0.8));
}

TEST_F(FrameEncoderTest, APatchAtScaleOneIsACropOfTheFrame) {
  auto frame = desktopLikeFrame(800, 600);
  auto patch = encoder.encodePatch(*frame, Rect{100, 50, 400, 300}, 400, 300, Rect{64, 32, 100, 50}, 0.8);
  auto crop = encoder.encode(*frame, Rect{164.0 / 800, 82.0 / 600, 100.0 / 800, 50.0 / 600}, 6000, 6000, 0.8);
  ASSERT_TRUE(patch && crop);
  EXPECT_EQ(*patch, crop->jpeg);
  // Beyond the frame's edge the edge pixels repeat, at the patch's full size.
  auto overhanging = encoder.encodePatch(*frame, Rect{0, 0, 800, 600}, 800, 600, Rect{780, 590, 40, 20}, 0.8);
  ASSERT_TRUE(overhanging);
  EXPECT_EQ(sizeOf(*overhanging), (Size{40, 20}));
}

TEST_F(FrameEncoderTest, JpegsCarryTheQualityAndTheCompactSrgbProfile) {
  EXPECT_LT(srgbProfile().size(), 1024u);
  auto frame = desktopLikeFrame(640, 400);
  auto low = encoder.encode(*frame, std::nullopt, 640, unlimited, 0.72);
  auto high = encoder.encode(*frame, std::nullopt, 640, unlimited, 0.8);
  JpegWriter writer;
  EXPECT_EQ(low->jpeg, writer.writeBgra(frame->data(), frame->bytesPerRow(), 640, 400, 72));
  EXPECT_EQ(high->jpeg, writer.writeBgra(frame->data(), frame->bytesPerRow(), 640, 400, 80));
  for (const auto& jpeg :
       {low->jpeg, high->jpeg, encoder.encode(*frame, std::nullopt, 300, unlimited, 0.8)->jpeg}) {
    const auto decoded = decodeJpeg(jpeg);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->iccProfile, std::vector<uint8_t>(srgbProfile().begin(), srgbProfile().end()));
  }
}

TEST(JpegWriter, AReusedWriterGivesTheBytesOfAFreshOne) {
  // Small images get optimised Huffman tables, large ones the standard tables:
  // neither may leak into the next image.
  auto frame = desktopLikeFrame(400, 300, 3);
  JpegWriter reused;
  for (const int size : {100, 400, 64, 300}) {
    JpegWriter fresh;
    const auto expected = fresh.writeBgra(frame->data(), frame->bytesPerRow(), size, size * 3 / 4, 80);
    EXPECT_EQ(reused.writeBgra(frame->data(), frame->bytesPerRow(), size, size * 3 / 4, 80), expected) << size;
  }
}

TEST_F(FrameEncoderTest, ColoursSurviveBothPaths) {
  // A crop inside the frame goes to libjpeg as BGRA; one overhanging the frame
  // goes through the resampler and our own YCbCr conversion.
  auto frame = desktopLikeFrame(320, 200, 9);
  const Rect layer{0, 0, 320, 200};
  auto direct = decodeJpeg(*encoder.encodePatch(*frame, layer, 320, 200, Rect{0, 0, 320, 200}, 0.8));
  auto converted = decodeJpeg(*encoder.encodePatch(*frame, layer, 320, 200, Rect{0, 0, 336, 200}, 0.8));
  ASSERT_TRUE(direct && converted);
  ASSERT_EQ(converted->width, 336);
  std::vector<uint8_t> original, inFrame;
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 320; ++x) {
      const uint8_t* p = frame->row(y) + x * 4;
      original.insert(original.end(), {p[2], p[1], p[0]});
      const uint8_t* q = &converted->rgb[(y * 336 + x) * 3];
      inFrame.insert(inFrame.end(), q, q + 3);
    }
  }
  const double libjpegQuality = testing::psnr(original.data(), direct->rgb.data(), 320 * 200, 3);
  EXPECT_GT(libjpegQuality, 30);
  EXPECT_GT(testing::psnr(original.data(), inFrame.data(), 320 * 200, 3), libjpegQuality - 1);
}

TEST_F(FrameEncoderTest, UnusableInputGivesNoImage) {
  auto frame = desktopLikeFrame(64, 64);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(encoder.encode(*PixelBuffer::allocate(64, 64, 0, PixelFormat::other), std::nullopt, 100, 100, 0.8));
  EXPECT_FALSE(encoder.encode(*std::make_shared<PixelBuffer>(PixelFormat::bgra, 64, 64, 256, nullptr),
                              std::nullopt, 100, 100, 0.8));
  EXPECT_FALSE(encoder.encode(*frame, std::nullopt, 0, 100, 0.8));
  EXPECT_FALSE(encoder.encode(*frame, std::nullopt, -5, 100, 0.8));
  EXPECT_FALSE(encoder.encode(*frame, Rect{nan, 0, 1, 1}, 100, 100, 0.8));
  EXPECT_FALSE(encoder.encode(*frame, Rect{0, 0, inf, 1}, 100, 100, 0.8));
  EXPECT_FALSE(encoder.encode(*frame, std::nullopt, 100, 100, nan));
  EXPECT_FALSE(encoder.encode(*PixelBuffer::allocate(70000, 1), std::nullopt, unlimited, unlimited, 0.8));
  EXPECT_FALSE(encoder.encodePatch(*frame, Rect{0, 0, 0, 64}, 32, 32, Rect{0, 0, 8, 8}, 0.8));
  EXPECT_FALSE(encoder.encodePatch(*frame, Rect{0, 0, 64, 64}, 0, 32, Rect{0, 0, 8, 8}, 0.8));
  EXPECT_FALSE(encoder.encodePatch(*frame, Rect{0, 0, 64, 64}, 32, 32, Rect{0, 0, 1e9, 8}, 0.8));
  EXPECT_FALSE(encoder.encodePatch(*frame, Rect{1e12, 0, 64, 64}, 32, 32, Rect{0, 0, 8, 8}, 0.8));
  EXPECT_FALSE(encoder.encodePatch(*frame, Rect{0, 0, 64, 64}, 32, 32, Rect{nan, 0, 8, 8}, 0.8));
  // Still usable afterwards.
  EXPECT_TRUE(encoder.encode(*frame, std::nullopt, 32, 32, 0.8));
}

}  // namespace
}  // namespace vistaro
