#include "capture/resampled_strips.h"

#include <algorithm>
#include <cstring>

namespace vistaro {
namespace {

// libjpeg's coefficients in 1/65536 units.
constexpr int32_t yR = 19595, yG = 38470, yB = 7471;
constexpr int32_t cbR = -11059, cbG = -21709, cbB = 32768;
constexpr int32_t crR = 32768, crG = -27439, crB = -5329;

uint8_t toByte(int32_t value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

void convertPair(const uint8_t* top, const uint8_t* bottom, int paddedWidth, uint8_t* yTop, uint8_t* yBottom,
                 uint8_t* cb, uint8_t* cr) {
  for (int x = 0; x < paddedWidth; ++x) {
    const uint8_t* a = top + x * 4;
    const uint8_t* b = bottom + x * 4;
    yTop[x] = static_cast<uint8_t>((yR * a[2] + yG * a[1] + yB * a[0] + 32768) >> 16);
    yBottom[x] = static_cast<uint8_t>((yR * b[2] + yG * b[1] + yB * b[0] + 32768) >> 16);
  }
  for (int x = 0; x < paddedWidth / 2; ++x) {
    const uint8_t* a = top + x * 8;
    const uint8_t* b = bottom + x * 8;
    const int32_t blue = a[0] + a[4] + b[0] + b[4];
    const int32_t green = a[1] + a[5] + b[1] + b[5];
    const int32_t red = a[2] + a[6] + b[2] + b[6];
    const int32_t centre = (128 << 18) + (1 << 17);
    cb[x] = toByte((cbR * red + cbG * green + cbB * blue + centre) >> 18);
    cr[x] = toByte((crR * red + crG * green + crB * blue + centre) >> 18);
  }
}

}  // namespace

const uint8_t* ResampledStrips::bgraRow(int row, int slot, int paddedWidth) {
  row = std::min(row, resampler_.outputHeight() - 1);
  std::vector<uint8_t>& buffer = rows_[slot];
  if (rowInSlot_[slot] == row && buffer.size() == static_cast<size_t>(paddedWidth) * 4) return buffer.data();
  buffer.resize(static_cast<size_t>(paddedWidth) * 4);
  const int width = resampler_.outputWidth();
  resampler_.resampleRow(row, buffer.data());
  for (int x = width; x < paddedWidth; ++x)
    std::memcpy(&buffer[static_cast<size_t>(x) * 4], &buffer[static_cast<size_t>(width - 1) * 4], 4);
  rowInSlot_[slot] = row;
  return buffer.data();
}

void ResampledStrips::fillStrip(int firstRow, const YccStrip& strip) {
  if (firstRow == 0) rowInSlot_[0] = rowInSlot_[1] = -1;  // a new image
  for (int pair = 0; pair < YccStrip::lumaRows / 2; ++pair) {
    const int row = firstRow + pair * 2;
    const uint8_t* top = bgraRow(row, 0, strip.paddedWidth);
    const uint8_t* bottom = bgraRow(row + 1, 1, strip.paddedWidth);
    convertPair(top, bottom, strip.paddedWidth, strip.luma[pair * 2], strip.luma[pair * 2 + 1], strip.cb[pair],
                strip.cr[pair]);
  }
}

}  // namespace vistaro
