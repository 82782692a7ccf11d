#include "server/patch_rects.h"

#include <algorithm>
#include <cmath>

namespace vistaro {
namespace {

constexpr double kPatchGrowth = 3;
constexpr double kNeighbourDistance = 16;
constexpr size_t kMaxPatches = 8;

// Merges the first pair (in scan order) that lies within the neighbour
// distance; false when no pair does.
bool mergeFirstNeighbours(std::vector<Rect>& rects) {
  for (size_t i = 0; i < rects.size(); ++i) {
    const Rect grown = rects[i].insetBy(-kNeighbourDistance, -kNeighbourDistance);
    for (size_t j = i + 1; j < rects.size(); ++j) {
      if (grown.intersection(rects[j])) {
        rects[i] = rects[i].unionWith(rects[j]);
        rects.erase(rects.begin() + static_cast<std::ptrdiff_t>(j));
        return true;
      }
    }
  }
  return false;
}

void mergeLeastWastefulPair(std::vector<Rect>& rects) {
  size_t bestI = 0, bestJ = 1;
  double bestWaste = INFINITY;
  for (size_t i = 0; i < rects.size(); ++i) {
    for (size_t j = i + 1; j < rects.size(); ++j) {
      const double waste = rects[i].unionWith(rects[j]).area() - rects[i].area() - rects[j].area();
      if (waste < bestWaste) {
        bestWaste = waste;
        bestI = i;
        bestJ = j;
      }
    }
  }
  rects[bestI] = rects[bestI].unionWith(rects[bestJ]);
  rects.erase(rects.begin() + static_cast<std::ptrdiff_t>(bestJ));
}

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

std::vector<Rect> mergeRects(std::vector<Rect> rects) {
  while (rects.size() > 1 && mergeFirstNeighbours(rects)) {
  }
  while (rects.size() > kMaxPatches) mergeLeastWastefulPair(rects);
  return rects;
}

double coverage(const std::vector<Rect>& rects, double outputWidth, double outputHeight) {
  double sum = 0;
  for (const Rect& rect : rects) sum += rect.area();
  return sum / std::max(outputWidth * outputHeight, 1.0);
}

}  // namespace vistaro
