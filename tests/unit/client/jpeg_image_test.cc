#include "client/jpeg_image.h"

#include <gtest/gtest.h>

#include "capture/jpeg_writer.h"
#include "fakes/capture/test_images.h"

namespace vistaro::client {
namespace {

std::vector<uint8_t> encodeFrame(const PixelBuffer& frame, int quality = 90) {
  JpegWriter writer;
  return *writer.writeBgra(frame.data(), frame.bytesPerRow(), frame.width(), frame.height(), quality);
}

TEST(JpegImageTest, DecodesToTheEncodedSizeAndPixels) {
  const auto frame = testing::desktopLikeFrame(333, 201);
  const auto image = decodeJpeg(encodeFrame(*frame));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 333);
  EXPECT_EQ(image->height, 201);
  ASSERT_EQ(image->rgb.size(), 333u * 201 * 3);

  // The frame is BGRA; compare it as RGB.
  std::vector<uint8_t> expected;
  for (int y = 0; y < frame->height(); ++y) {
    for (int x = 0; x < frame->width(); ++x) {
      const uint8_t* p = frame->row(y) + x * 4;
      expected.insert(expected.end(), {p[2], p[1], p[0]});
    }
  }
  EXPECT_GT(testing::psnr(image->rgb.data(), expected.data(), expected.size() / 3, 3), 28.0);
}

TEST(JpegImageTest, RefusesDamagedOrOversizedData) {
  const auto jpeg = encodeFrame(*testing::desktopLikeFrame(64, 48));
  EXPECT_FALSE(decodeJpeg({}));
  EXPECT_FALSE(decodeJpeg(std::vector<uint8_t>(100, 0x55)));
  EXPECT_FALSE(decodeJpeg(std::span(jpeg).first(jpeg.size() / 2))) << "truncated scan";
  EXPECT_FALSE(decodeJpeg(std::span(jpeg).first(20))) << "truncated header";

  // The same image claiming 65000 × 65000 pixels in its frame header.
  auto oversized = jpeg;
  for (size_t at = 0; at + 8 < oversized.size(); ++at) {
    if (oversized[at] == 0xff && oversized[at + 1] == 0xc0) {
      oversized[at + 5] = oversized[at + 7] = 0xfd;
      oversized[at + 6] = oversized[at + 8] = 0xe8;
      break;
    }
  }
  EXPECT_FALSE(decodeJpeg(oversized));
}

}  // namespace
}  // namespace vistaro::client
