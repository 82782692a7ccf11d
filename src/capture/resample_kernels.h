#pragma once

#include <cstddef>
#include <cstdint>

namespace vistaro {

// The two passes of the separable resampler and the colour conversion, picked once for the CPU at hand
// (AVX2 or portable C++; both give the same bytes).
struct ResampleKernels {
  // out[i] = Σ_t weights[t] · rows[t][i] in units of 1/64 (weights in 1/16384).
  void (*filterColumns)(const uint8_t* const* rows, const int16_t* weights, int taps, size_t count,
                        int16_t* out);
  // One BGRA output row from a vertically filtered row: pixel i sums taps
  // pixels from columns + starts[i] · 4 with weights[i · paddedTaps ...], where
  // paddedTaps is taps rounded up to 4 (the extra weights are zero).
  void (*filterRow)(const int16_t* columns, const int32_t* starts, const int16_t* weights, int paddedTaps,
                    int outputWidth, uint8_t* bgra);
  // Two BGRA rows of width pixels (a multiple of 16) to two rows of luma and one
  // of each chroma, averaged over 2 × 2 blocks; JPEG's full-range BT.601 matrix.
  void (*toYcc420)(const uint8_t* top, const uint8_t* bottom, int width, uint8_t* yTop, uint8_t* yBottom,
                   uint8_t* cb, uint8_t* cr);

  static const ResampleKernels& forThisCpu();
  static const ResampleKernels& portable();
};

}  // namespace vistaro
