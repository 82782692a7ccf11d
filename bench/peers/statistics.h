#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace vistaro::peers {

// Nearest-rank percentile (0…100); NaN for no values.
inline double percentile(std::vector<double> values, double percent) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<size_t>(std::ceil(percent / 100 * double(values.size())));
  return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

inline double median(const std::vector<double>& values) { return percentile(values, 50); }

}  // namespace vistaro::peers
