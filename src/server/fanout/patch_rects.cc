#include "server/fanout/patch_rects.h"

#include "core/dirty_region.h"

#include <algorithm>
#include <cmath>

namespace vistaro {
namespace {

constexpr double kPatchGrowth = 3;
}  // namespace

std::vector<Rect> patchRects(const std::vector<Rect>& dirty, const Rect& region, double outputWidth,
                             double outputHeight) {
  if (!(region.width > 0) || !(region.height > 0)) return {};
  const double sx = outputWidth / region.width;
  const double sy = outputHeight / region.height;
  const Rect output{0, 0, outputWidth, outputHeight};
  std::vector<Rect> kept;
  kept.reserve(dirty.size());
  for (const Rect& rect : dirty) {
    auto clipped = rect.insetBy(-kPatchGrowth, -kPatchGrowth).intersection(region);
    if (!clipped || clipped->isEmpty()) continue;
    const double x0 = std::floor(sx * (clipped->minX() - region.x));
    const double y0 = std::floor(sy * (clipped->minY() - region.y));
    const double x1 = std::ceil(sx * (clipped->maxX() - region.x));
    const double y1 = std::ceil(sy * (clipped->maxY() - region.y));
    auto patch = Rect{x0, y0, x1 - x0, y1 - y0}.intersection(output);
    if (patch && patch->width >= 1 && patch->height >= 1) kept.push_back(*patch);
  }
  return mergeRects(std::move(kept));
}

double coverage(const std::vector<Rect>& rects, double outputWidth, double outputHeight) {
  double sum = 0;
  for (const Rect& rect : rects) sum += rect.area();
  return sum / std::max(outputWidth * outputHeight, 1.0);
}

}  // namespace vistaro
