#pragma once

#include <vector>

#include "core/geometry.h"

namespace vistaro::x11 {

// A run of whole rows of the frame.
struct RowBand {
  int first;
  int rows;
  bool operator==(const RowBand&) const = default;
};

// The rows that hold the rectangles, within [0, height), as few bands as it takes: rows
// closer than `joinGap` are grabbed together, since every grab is a round trip.
std::vector<RowBand> rowBandsCovering(const std::vector<Rect>& rects, int height, int joinGap = 32);

}  // namespace vistaro::x11
