#pragma once

#include <cstdint>
#include <vector>

namespace vistaro {

// Lanczos-3 weights for one axis, precomputed once per geometry: output pixel i
// reads source pixels start[i] .. start[i] + taps - 1 with weights
// weights[i * taps ...] in 1/16384 units that sum to exactly 16384. Source
// pixels beyond the frame's edge are clamped to the edge pixel.
struct LanczosAxis {
  static constexpr int weightBits = 14;

  int taps = 0;
  std::vector<int32_t> start;
  std::vector<int16_t> weights;

  // Output pixel i is centred on source coordinate origin + (i + 0.5) / scale;
  // the source has sourceLength pixels. Widening the kernel below scale 1 makes
  // it a low-pass filter for downscaling.
  void compute(double origin, double scale, int outputLength, int sourceLength);
  int firstSource() const { return start.empty() ? 0 : start.front(); }
  int endSource() const { return start.empty() ? 0 : start.back() + taps; }

 private:
  std::vector<double> exact_;  // kept to spare an allocation per patch
};

}  // namespace vistaro
