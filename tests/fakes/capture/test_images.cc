#include "fakes/capture/test_images.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>


namespace vistaro::testing {

std::shared_ptr<PixelBuffer> desktopLikeFrame(int width, int height, uint32_t seed, size_t rowPadding) {
  auto frame = PixelBuffer::allocate(width, height, size_t(width) * 4 + rowPadding);
  std::mt19937 random(seed);
  const auto below = [&](int n) { return int(random() % uint32_t(n)); };
  const auto fill = [&](int x0, int y0, int w, int h, uint32_t bgr) {
    const uint32_t pixel = bgr | 0xff000000;  // little-endian: B, G, R, A
    for (int y = std::max(y0, 0); y < std::min(y0 + h, height); ++y)
      for (int x = std::max(x0, 0); x < std::min(x0 + w, width); ++x)
        std::memcpy(frame->mutableRow(y) + x * 4, &pixel, 4);
  };
  fill(0, 0, width, height, 0x3a6ea5);  // wallpaper with a gradient band
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width / 3; ++x) frame->mutableRow(y)[x * 4 + 1] = (x + y) * 255 / (width / 3 + height);
  for (int n = 0; n < 3 + width * height / 300000; ++n) {  // windows
    const int w = width / 4 + below(width / 2 + 1), h = height / 4 + below(height / 2 + 1);
    const int x0 = below(width) - w / 4, y0 = below(height) - h / 4;
    fill(x0 - 1, y0 - 1, w + 2, h + 2, 0x202020);
    fill(x0, y0, w, h, 0xf6f5f4);
    fill(x0, y0, w, 24, below(2) ? 0xdedede : 0x2b5797);
    for (int line = y0 + 34; line + 12 < y0 + h; line += 17)  // text, with spaces
      for (int cell = x0 + 8; cell + 8 < x0 + w - 8; cell += 8) {
        if (below(7) == 0) continue;
        for (int stroke = 0; stroke < 3; ++stroke) {
          const bool vertical = below(2);
          const int sh = vertical ? 3 + below(7) : 1, sw = vertical ? 1 : 2 + below(4), sy = line + below(10);
          fill(cell + below(6), sy, sw, sh, 0x101010);
        }
      }
  }
  for (int y = height / 2; y < std::min(height / 2 + height / 5, height); ++y)  // photo
    for (int x = width / 2; x < std::min(width / 2 + width / 5, width); ++x) {
      uint8_t* p = frame->mutableRow(y) + x * 4;
      p[0] = uint8_t(128 + 100 * std::sin(x * 0.05) * std::cos(y * 0.03));
      p[1] = uint8_t(128 + 90 * std::sin((x + y) * 0.02));
      p[2] = uint8_t(std::clamp(140 + 60 * std::cos(x * 0.013 - y * 0.04) + below(24), 0.0, 255.0));
    }
  return frame;
}

double psnr(const uint8_t* a, const uint8_t* b, size_t pixels, int bytesPerPixel) {
  double squares = 0;
  for (size_t i = 0; i < pixels * bytesPerPixel; ++i)
    if (i % bytesPerPixel < 3) squares += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
  return 10 * std::log10(255.0 * 255.0 / (squares / (3.0 * double(pixels))));
}

}  // namespace vistaro::testing
