#pragma once

#include <vector>

#include "core/geometry.h"

namespace vistaro {

// Dirty rectangles of a layer's region (frame pixels) mapped to the layer's
// output pixels, grown by 3 px so that resampling at patch edges blends with
// the neighbours, and coalesced to at most 8 patches.
std::vector<Rect> patchRects(const std::vector<Rect>& dirty, const Rect& region, double outputWidth,
                             double outputHeight);

// Summed area over the output area; overlaps count twice.
double coverage(const std::vector<Rect>& rects, double outputWidth, double outputHeight);

}  // namespace vistaro
