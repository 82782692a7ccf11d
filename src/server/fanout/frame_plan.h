#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/dirty_region.h"
#include "core/geometry.h"
#include "core/pixel_buffer.h"
#include "wire/messages.h"

namespace vistaro {

// The most recent captured frame; the hub keeps only this one.
struct LatestFrame {
  uint64_t seq = 0;
  SharedPixels buffer;
  DisplayID displayID = 0;
  double pointScale = 1;
};

// What one client holds of one layer.
struct LayerRecord {
  // Unknown: the layer must be sent whole. Known: changes since it was last sent.
  DirtyRegion dirty = DirtyRegion::unknown();
  uint64_t lastSeq = 0;
  std::string lastKey;

  // The next message carries the layer whole.
  void forget() {
    dirty = DirtyRegion::unknown();
    lastKey.clear();
  }
};

struct LayerPlan {
  Rect region;  // frame pixels
  int outputWidth = 1;
  int outputHeight = 1;
  bool whole = false;
  std::vector<Rect> patches;  // output pixels

  bool sends() const { return whole || !patches.empty(); }
};

// Everything the encode job needs, taken on the hub queue.
struct FramePlan {
  LatestFrame frame;
  bool patchClient = false;
  int64_t baseMaxWidth = 0;
  LayerPlan base;
  std::optional<Rect> viewport;  // normalised; present only when valid
  int64_t detailMaxWidth = 0;
  int64_t detailMaxHeight = 0;
  LayerPlan detail;
};

// Decides, for one client and the latest frame, which layers go whole, which
// by patches, and which not at all, and records what the client will hold.
// Absent when the message would carry nothing (no credit is spent then).
std::optional<FramePlan> planFrame(const LatestFrame& frame, const RequestMessage& request, bool patchClient,
                                   LayerRecord& base, LayerRecord& detail);

}  // namespace vistaro
