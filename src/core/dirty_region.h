#pragma once

#include <optional>
#include <vector>

#include "core/geometry.h"

namespace vistaro {

// Where a frame changed, in frame pixels. "Unknown" (anything may have changed) is a state of
// its own, so that "nothing changed" and "cannot tell" never mix.
class DirtyRegion {
 public:
  // Past this many rectangles, added regions are merged into a few larger ones.
  static constexpr size_t kMaxRects = 64;

  static DirtyRegion unknown() { return DirtyRegion(); }
  static DirtyRegion none() { return of({}); }
  static DirtyRegion of(std::vector<Rect> rects);

  bool known() const { return rects_.has_value(); }
  bool empty() const { return rects_ && rects_->empty(); }
  // Empty when unknown.
  const std::vector<Rect>& rects() const { return rects_ ? *rects_ : kNoRects; }

  // Unknown absorbs everything; known regions are joined, merged when they grow long.
  void add(const DirtyRegion& other);

  bool operator==(const DirtyRegion&) const = default;

 private:
  DirtyRegion() = default;
  static inline const std::vector<Rect> kNoRects;
  std::optional<std::vector<Rect>> rects_;
};

// Joins rectangles within 16 px of each other, then the pairs that waste the
// least area until at most 8 remain.
std::vector<Rect> mergeRects(std::vector<Rect> rects);

}  // namespace vistaro
