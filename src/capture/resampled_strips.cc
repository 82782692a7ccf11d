#include "capture/resampled_strips.h"

#include <algorithm>
#include <cstring>

namespace vistaro {

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
    resampler_.kernels().toYcc420(top, bottom, strip.paddedWidth, strip.luma[pair * 2], strip.luma[pair * 2 + 1],
                                  strip.cb[pair], strip.cr[pair]);
  }
}

}  // namespace vistaro
