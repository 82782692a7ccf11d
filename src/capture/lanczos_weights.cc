#include "capture/lanczos_weights.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vistaro {
namespace {

constexpr double lobes = 3.0;

double lanczos(double x) {
  x = std::abs(x);
  if (x < 1e-9) return 1.0;
  if (x >= lobes) return 0.0;
  const double px = std::numbers::pi * x;
  return lobes * std::sin(px) * std::sin(px / lobes) / (px * px);
}

}  // namespace

void LanczosAxis::compute(double origin, double scale, int outputLength, int sourceLength) {
  const double stretch = std::min(scale, 1.0);
  const double support = lobes / stretch;
  taps = std::min(static_cast<int>(std::ceil(2 * support)) + 1, sourceLength);
  start.resize(static_cast<size_t>(outputLength));
  weights.assign(static_cast<size_t>(outputLength) * static_cast<size_t>(taps), 0);

  exact_.resize(static_cast<size_t>(taps));
  for (int i = 0; i < outputLength; ++i) {
    const double centre = origin + (i + 0.5) / scale;
    const int first = static_cast<int>(std::floor(centre - support - 0.5));
    const int clampedStart = std::clamp(first, 0, sourceLength - taps);
    start[static_cast<size_t>(i)] = clampedStart;
    std::fill(exact_.begin(), exact_.end(), 0.0);
    double sum = 0;
    for (int k = first; k < first + static_cast<int>(std::ceil(2 * support)) + 1; ++k) {
      const double weight = lanczos((k + 0.5 - centre) * stretch);
      exact_[static_cast<size_t>(std::clamp(k, 0, sourceLength - 1) - clampedStart)] += weight;
      sum += weight;
    }
    int16_t* row = &weights[static_cast<size_t>(i) * static_cast<size_t>(taps)];
    int total = 0;
    int largest = 0;
    for (int t = 0; t < taps; ++t) {
      row[t] = static_cast<int16_t>(std::lround(exact_[static_cast<size_t>(t)] / sum * (1 << weightBits)));
      total += row[t];
      if (row[t] > row[largest]) largest = t;
    }
    row[largest] = static_cast<int16_t>(row[largest] + (1 << weightBits) - total);
  }
}

}  // namespace vistaro
