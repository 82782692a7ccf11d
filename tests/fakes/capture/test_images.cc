#include "fakes/capture/test_images.h"

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

namespace vistaro::testing {
namespace {

void fill(PixelBuffer& frame, int x0, int y0, int w, int h, uint32_t bgr) {
  for (int y = std::max(y0, 0); y < std::min(y0 + h, frame.height()); ++y) {
    uint8_t* row = frame.mutableRow(y);
    for (int x = std::max(x0, 0); x < std::min(x0 + w, frame.width()); ++x) {
      row[x * 4] = bgr & 0xff;
      row[x * 4 + 1] = (bgr >> 8) & 0xff;
      row[x * 4 + 2] = (bgr >> 16) & 0xff;
      row[x * 4 + 3] = 0xff;
    }
  }
}

}  // namespace

std::shared_ptr<PixelBuffer> desktopLikeFrame(int width, int height, uint32_t seed, size_t rowPadding) {
  auto frame = PixelBuffer::allocate(width, height, static_cast<size_t>(width) * 4 + rowPadding);
  std::mt19937 random(seed);
  fill(*frame, 0, 0, width, height, 0x3a6ea5);  // wallpaper
  for (int y = 0; y < height; ++y) {            // gradient band on the wallpaper
    for (int x = 0; x < width / 3; ++x)
      frame->mutableRow(y)[x * 4 + 1] = static_cast<uint8_t>((x + y) * 255 / (width / 3 + height));
  }
  const int windows = 3 + width * height / 300000;
  for (int n = 0; n < windows; ++n) {
    const int w = width / 4 + static_cast<int>(random() % static_cast<uint32_t>(width / 2 + 1));
    const int h = height / 4 + static_cast<int>(random() % static_cast<uint32_t>(height / 2 + 1));
    const int x0 = static_cast<int>(random() % static_cast<uint32_t>(width)) - w / 4;
    const int y0 = static_cast<int>(random() % static_cast<uint32_t>(height)) - h / 4;
    fill(*frame, x0 - 1, y0 - 1, w + 2, h + 2, 0x202020);             // border
    fill(*frame, x0, y0, w, h, 0xf6f5f4);                             // body
    fill(*frame, x0, y0, w, 24, random() % 2 ? 0xdedede : 0x2b5797);  // title bar
    for (int line = y0 + 34; line + 12 < y0 + h; line += 17) {        // text
      for (int cell = x0 + 8; cell + 8 < x0 + w - 8; cell += 8) {
        if (random() % 7 == 0) continue;  // spaces
        for (int stroke = 0; stroke < 3; ++stroke) {
          const bool vertical = random() % 2;
          fill(*frame, cell + static_cast<int>(random() % 6), line + static_cast<int>(random() % 10),
               vertical ? 1 : 2 + static_cast<int>(random() % 4),
               vertical ? 3 + static_cast<int>(random() % 7) : 1, 0x101010);
        }
      }
    }
  }
  const int px = width / 2, py = height / 2, pw = width / 5, ph = height / 5;  // photo
  for (int y = py; y < std::min(py + ph, height); ++y) {
    for (int x = px; x < std::min(px + pw, width); ++x) {
      uint8_t* p = frame->mutableRow(y) + x * 4;
      p[0] = static_cast<uint8_t>(128 + 100 * std::sin(x * 0.05) * std::cos(y * 0.03));
      p[1] = static_cast<uint8_t>(128 + 90 * std::sin((x + y) * 0.02));
      p[2] = static_cast<uint8_t>(
          std::clamp(140 + 60 * std::cos(x * 0.013 - y * 0.04) + (random() % 24), 0.0, 255.0));
    }
  }
  return frame;
}

std::optional<DecodedJpeg> decodeJpeg(const std::vector<uint8_t>& jpeg) {
  jpeg_decompress_struct decoder{};
  jpeg_error_mgr errors{};
  decoder.err = jpeg_std_error(&errors);  // a corrupt image ends the test run, which is what it should do
  jpeg_create_decompress(&decoder);
  jpeg_mem_src(&decoder, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_save_markers(&decoder, JPEG_APP0 + 2, 0xffff);
  if (jpeg_read_header(&decoder, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&decoder);
    return std::nullopt;
  }
  DecodedJpeg decoded;
  JOCTET* icc = nullptr;
  unsigned iccLength = 0;
  if (jpeg_read_icc_profile(&decoder, &icc, &iccLength)) {
    decoded.iccProfile.assign(icc, icc + iccLength);
    free(icc);
  }
  decoder.out_color_space = JCS_RGB;
  jpeg_start_decompress(&decoder);
  decoded.width = static_cast<int>(decoder.output_width);
  decoded.height = static_cast<int>(decoder.output_height);
  decoded.rgb.resize(static_cast<size_t>(decoded.width) * static_cast<size_t>(decoded.height) * 3);
  while (decoder.output_scanline < decoder.output_height) {
    JSAMPROW row =
        &decoded.rgb[static_cast<size_t>(decoder.output_scanline) * static_cast<size_t>(decoded.width) * 3];
    jpeg_read_scanlines(&decoder, &row, 1);
  }
  jpeg_finish_decompress(&decoder);
  jpeg_destroy_decompress(&decoder);
  return decoded;
}

double psnr(const uint8_t* a, const uint8_t* b, size_t pixels, int bytesPerPixel) {
  double squares = 0;
  for (size_t i = 0; i < pixels; ++i) {
    for (int c = 0; c < 3; ++c) {
      const double d = double(a[i * bytesPerPixel + c]) - double(b[i * bytesPerPixel + c]);
      squares += d * d;
    }
  }
  if (squares == 0) return std::numeric_limits<double>::infinity();
  return 10 * std::log10(255.0 * 255.0 / (squares / (3.0 * double(pixels))));
}

}  // namespace vistaro::testing
