#include "core/dirty_region.h"

#include <algorithm>
#include <cmath>

namespace vistaro {
namespace {

constexpr size_t kMaxMerged = 8;
constexpr double kNeighbourDistance = 16;

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

double waste(const Rect& a, const Rect& b) { return a.unionWith(b).area() - a.area() - b.area(); }

// Merges the pair of least waste (the first such pair in list order) until at
// most kMaxMerged remain. Dirty lists of hundreds of scattered tiles reach
// this, for every client on every frame, so instead of rescanning all pairs
// per merge each rectangle keeps its best partner further down the list, and
// only the rows a merge touched are looked at again.
void mergeLeastWastefulPairs(std::vector<Rect>& rects) {
  const size_t n = rects.size();
  std::vector<bool> live(n, true);
  std::vector<size_t> best(n, n);
  std::vector<double> bestWaste(n, INFINITY);
  const auto rescan = [&](size_t i) {
    best[i] = n;
    bestWaste[i] = INFINITY;
    for (size_t j = i + 1; j < n; ++j) {
      if (!live[j]) continue;
      if (const double w = waste(rects[i], rects[j]); w < bestWaste[i]) {
        bestWaste[i] = w;
        best[i] = j;
      }
    }
  };
  for (size_t i = 0; i < n; ++i) rescan(i);

  for (size_t remaining = n; remaining > kMaxMerged; --remaining) {
    size_t i = n;
    double least = INFINITY;
    for (size_t k = 0; k < n; ++k) {
      if (live[k] && bestWaste[k] < least) {
        least = bestWaste[k];
        i = k;
      }
    }
    if (i == n) {  // no finite waste anywhere: the first two, as a full scan would pick
      i = static_cast<size_t>(std::find(live.begin(), live.end(), true) - live.begin());
      best[i] = static_cast<size_t>(std::find(live.begin() + static_cast<std::ptrdiff_t>(i) + 1, live.end(), true) -
                                    live.begin());
    }
    const size_t j = best[i];
    rects[i] = rects[i].unionWith(rects[j]);
    live[j] = false;
    for (size_t k = 0; k < n; ++k) {
      if (!live[k] || k == i) continue;
      if (best[k] == i || best[k] == j) {
        rescan(k);
      } else if (k < i) {
        const double w = waste(rects[k], rects[i]);
        if (w < bestWaste[k] || (w == bestWaste[k] && i < best[k])) {
          bestWaste[k] = w;
          best[k] = i;
        }
      }
    }
    rescan(i);
  }
  size_t kept = 0;
  for (size_t k = 0; k < n; ++k) {
    if (live[k]) rects[kept++] = rects[k];
  }
  rects.resize(kept);
}

}  // namespace

std::vector<Rect> mergeRects(std::vector<Rect> rects) {
  while (rects.size() > 1 && mergeFirstNeighbours(rects)) {
  }
  if (rects.size() > kMaxMerged) mergeLeastWastefulPairs(rects);
  return rects;
}

DirtyRegion DirtyRegion::of(std::vector<Rect> rects) {
  DirtyRegion region;
  region.rects_ = std::move(rects);
  return region;
}

void DirtyRegion::add(const DirtyRegion& other) {
  if (!rects_ || !other.rects_) {
    rects_.reset();
    return;
  }
  rects_->insert(rects_->end(), other.rects_->begin(), other.rects_->end());
  if (rects_->size() > kMaxRects) rects_ = mergeRects(std::move(*rects_));
}

}  // namespace vistaro
