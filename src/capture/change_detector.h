#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "capture/captured_frame.h"

namespace vistaro {

// Turns the capture service's coarse dirty rectangles into what really changed in
// each 64 × 64 tile (the bounds of its changed pixels), by comparing each frame
// with a private copy of the previous one. Unknown result: treat the whole frame as changed; empty: nothing
// changed. Not thread-safe: called from the capture queue only.
class ChangeDetector {
 public:
  static constexpr int64_t tileSize = 64;

  // What changed within the frame's hints, per tile.
  DirtyRegion detectChanges(const CapturedFrame& frame);

 private:
  struct FreeAligned {
    void operator()(uint8_t* memory) const { std::free(memory); }
  };
  struct Frame;

  void compareTileRow(const Frame& frame, int64_t ty, int64_t tx0, int64_t tx1,
                      std::vector<Rect>& changed);
  Rect changedBounds(const Frame& frame, int64_t x0, int64_t width, int64_t y0, int64_t rows) const;
  void replaceHistory(const Frame& frame, DisplayID displayID);
  void copyRows(const Frame& frame, int64_t x0, int64_t width, int64_t y0, int64_t rows);

  std::unique_ptr<uint8_t, FreeAligned> previous_;
  int64_t width_ = 0;
  int64_t height_ = 0;
  int64_t stride_ = 0;
  DisplayID displayID_ = 0;

  // Reused across calls so that steady state allocates only the result list:
  // a tile was visited in this call when its stamp equals callStamp_.
  std::vector<uint32_t> visitedStamp_;
  uint32_t callStamp_ = 0;
  std::vector<uint8_t> tileState_;  // per tile of one tile row while comparing it
};

}  // namespace vistaro
