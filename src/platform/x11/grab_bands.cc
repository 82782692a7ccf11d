#include "platform/x11/grab_bands.h"

#include <algorithm>
#include <cmath>

namespace vistaro::x11 {

std::vector<RowBand> rowBandsCovering(const std::vector<Rect>& rects, int height, int joinGap) {
  std::vector<std::pair<int, int>> spans;  // [first, end)
  for (const Rect& rect : rects) {
    if (!(rect.width > 0) || !(rect.height > 0)) continue;
    const double first = std::max(0.0, std::floor(rect.minY()));
    const double end = std::min(double(height), std::ceil(rect.maxY()));
    if (first < end) spans.emplace_back(int(first), int(end));
  }
  std::sort(spans.begin(), spans.end());
  std::vector<RowBand> bands;
  for (const auto& [first, end] : spans) {
    if (!bands.empty() && first <= bands.back().first + bands.back().rows + joinGap) {
      bands.back().rows = std::max(bands.back().rows, end - bands.back().first);
    } else {
      bands.push_back({first, end - first});
    }
  }
  return bands;
}

}  // namespace vistaro::x11
