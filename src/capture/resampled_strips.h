#pragma once

#include <cstdint>
#include <vector>

#include "capture/jpeg_writer.h"
#include "capture/lanczos_resampler.h"

namespace vistaro {

// Feeds the JPEG writer YCbCr 4:2:0 strips straight from the resampler, two
// BGRA rows at a time. Rows and columns past the image repeat its last ones,
// as JPEG padding should.
class ResampledStrips final : public YccStripSource {
 public:
  explicit ResampledStrips(LanczosResampler& resampler) : resampler_(resampler) {}
  void fillStrip(int firstRow, const YccStrip& strip) override;

 private:
  const uint8_t* bgraRow(int row, int slot, int paddedWidth);

  LanczosResampler& resampler_;
  std::vector<uint8_t> rows_[2];
  int rowInSlot_[2] = {-1, -1};
};

}  // namespace vistaro
