#include "capture/lanczos_resampler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "fakes/capture/test_images.h"

namespace vistaro {
namespace {

std::vector<uint8_t> resampleAll(LanczosResampler& resampler) {
  std::vector<uint8_t> out(static_cast<size_t>(resampler.outputWidth()) * resampler.outputHeight() * 4);
  for (int y = 0; y < resampler.outputHeight(); ++y) {
    resampler.resampleRow(y, &out[static_cast<size_t>(y) * resampler.outputWidth() * 4]);
  }
  return out;
}

std::shared_ptr<PixelBuffer> stripes(int width, int height, bool vertical) {
  auto frame = PixelBuffer::allocate(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t v = ((vertical ? x : y) % 2) ? 255 : 0;
      std::memset(frame->mutableRow(y) + x * 4, v, 4);
    }
  }
  return frame;
}

TEST(LanczosResampler, VectorKernelsGiveTheSameBytesAsPortableOnes) {
  if (&ResampleKernels::forThisCpu() == &ResampleKernels::portable()) GTEST_SKIP() << "no vector kernels here";
  std::mt19937 random(3);
  auto frame = testing::desktopLikeFrame(301, 203, 5, 12);
  LanczosResampler fast(ResampleKernels::forThisCpu());
  LanczosResampler portable(ResampleKernels::portable());
  for (int round = 0; round < 25; ++round) {
    const double scaleX = 0.05 + (random() % 1000) / 1000.0, scaleY = 0.05 + (random() % 1000) / 1000.0;
    const double x = int(random() % 300) - 20 + (random() % 4) * 0.25, y = int(random() % 200) - 20;
    const int w = 1 + int(random() % 160), h = 1 + int(random() % 90);
    fast.configure(*frame, x, y, scaleX, scaleY, w, h);
    portable.configure(*frame, x, y, scaleX, scaleY, w, h);
    ASSERT_EQ(resampleAll(fast), resampleAll(portable)) << scaleX << " " << scaleY << " " << x << " " << y;
  }
}

TEST(ResampleKernels, ColourConversionAgreesAcrossKernelsAndKeepsGreysNeutral) {
  std::mt19937 random(11);
  constexpr int width = 48;
  std::vector<uint8_t> top(width * 4), bottom(width * 4);
  for (auto& byte : top) byte = static_cast<uint8_t>(random());
  for (auto& byte : bottom) byte = static_cast<uint8_t>(random());
  for (int x = 0; x < 8; ++x) {  // greys, black and white in the first columns
    const uint8_t grey = x == 0 ? 0 : x == 1 ? 255 : static_cast<uint8_t>(x * 30);
    std::memset(&top[x * 4], grey, 4);
    std::memset(&bottom[x * 4], grey, 4);
  }
  auto convert = [&](const ResampleKernels& kernels) {
    std::vector<uint8_t> planes(width * 3);
    kernels.toYcc420(top.data(), bottom.data(), width, &planes[0], &planes[width], &planes[2 * width],
                     &planes[2 * width + width / 2]);
    return planes;
  };
  const auto portable = convert(ResampleKernels::portable());
  EXPECT_EQ(convert(ResampleKernels::forThisCpu()), portable);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(portable[x], top[x * 4]) << x;
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(portable[2 * width + x], 128);
    EXPECT_EQ(portable[2 * width + width / 2 + x], 128);
  }
}

TEST(LanczosResampler, ScaleOneOnWholePixelsCopiesAndRepeatsTheEdges) {
  auto frame = testing::desktopLikeFrame(120, 80, 2);
  LanczosResampler resampler;
  resampler.configure(*frame, -3, 70, 1, 1, 40, 20);
  const auto out = resampleAll(resampler);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 40; ++x) {
      const uint8_t* expected = frame->row(std::min(70 + y, 79)) + std::max(x - 3, 0) * 4;
      ASSERT_EQ(std::memcmp(&out[(y * 40 + x) * 4], expected, 3), 0) << x << "," << y;
    }
  }
}

TEST(LanczosResampler, DownscalingFiltersOutDetailFinerThanTheOutputGrid) {
  // One-pixel stripes cannot be shown at half size: they must become grey
  // (a kernel not widened for the scale would alias them instead), along
  // the scaled axis only.
  for (const bool vertical : {true, false}) {
    auto frame = stripes(200, 200, vertical);
    LanczosResampler resampler;
    resampler.configure(*frame, 0, 0, vertical ? 0.5 : 1.0, vertical ? 1.0 : 0.5, vertical ? 100 : 200,
                        vertical ? 200 : 100);
    const auto out = resampleAll(resampler);
    const int w = resampler.outputWidth();
    for (int y = 10; y < resampler.outputHeight() - 10; ++y) {
      for (int x = 10; x < w - 10; ++x) EXPECT_NEAR(out[(y * w + x) * 4 + 1], 128, 2) << x << "," << y;
    }
    resampler.configure(*frame, 0, 0, vertical ? 1.0 : 0.5, vertical ? 0.5 : 1.0, vertical ? 200 : 100,
                        vertical ? 100 : 200);
    const auto kept = resampleAll(resampler);
    EXPECT_EQ(kept[(50 * resampler.outputWidth() + 51) * 4], vertical ? 255 : 0);
    EXPECT_EQ(kept[(51 * resampler.outputWidth() + 50) * 4], vertical ? 0 : 255);
  }
}

TEST(LanczosResampler, FlatAreasStayExactlyFlat) {
  auto frame = PixelBuffer::allocate(90, 70);
  for (int y = 0; y < 70; ++y) {
    for (int x = 0; x < 90; ++x) std::memcpy(frame->mutableRow(y) + x * 4, "\x10\x80\xf0\xff", 4);
  }
  LanczosResampler resampler;
  resampler.configure(*frame, 3.3, 1.7, 0.41, 0.77, 33, 49);
  const auto out = resampleAll(resampler);
  for (size_t i = 0; i < out.size(); i += 4) ASSERT_EQ(std::memcmp(&out[i], "\x10\x80\xf0", 3), 0) << i / 4;
}

}  // namespace
}  // namespace vistaro
