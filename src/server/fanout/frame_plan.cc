#include "server/fanout/frame_plan.h"

#include <algorithm>
#include <cmath>

#include "capture/layer_encoder.h"
#include "server/fanout/layer_keys.h"
#include "server/fanout/patch_rects.h"

namespace vistaro {
namespace {

constexpr int64_t kMinLayerLimit = 320;
constexpr int64_t kMaxDetailLimit = 6000;
constexpr double kWholeLayerCoverage = 0.5;

// As the encoder will make it: a scale within 0.1 % of 1 is the region's own size.
double layerScale(double scale) { return scale >= LayerEncoder::kNoResampleAbove ? 1.0 : scale; }
int outputSize(double length, double scale) { return std::max(static_cast<int>(std::floor(length * scale)), 1); }

std::optional<Rect> validViewport(const RequestMessage& request) {
  if (!request.viewport || request.viewport->size() != 4) return std::nullopt;
  const auto& v = *request.viewport;
  if (!(v[2] > 0) || !(v[3] > 0)) return std::nullopt;
  return Rect{v[0], v[1], v[2], v[3]};
}

// Whole, patches or nothing for a layer the client needs; records the send.
void decideLayer(LayerPlan& plan, LayerRecord& record, bool patchClient, uint64_t seq, const std::string& key) {
  const bool whole = !patchClient || record.lastKey != key || !record.dirty.known();
  if (!whole && !plan.region.isEmpty()) {
    plan.patches = patchRects(record.dirty.rects(), plan.region, plan.outputWidth, plan.outputHeight);
  }
  plan.whole = whole || (!plan.patches.empty() &&
                         coverage(plan.patches, plan.outputWidth, plan.outputHeight) > kWholeLayerCoverage);
  if (plan.whole) plan.patches.clear();
  record.lastSeq = seq;
  record.lastKey = key;
  record.dirty = DirtyRegion::none();
}

bool holds(const LayerRecord& record, uint64_t seq, const std::string& key) {
  return record.lastSeq == seq && record.lastKey == key;
}

}  // namespace

std::optional<FramePlan> planFrame(const LatestFrame& frame, const RequestMessage& request, bool patchClient,
                                   LayerRecord& base, LayerRecord& detail) {
  const int width = frame.buffer->width();
  const int height = frame.buffer->height();
  FramePlan plan;
  plan.frame = frame;
  plan.patchClient = patchClient;

  plan.baseMaxWidth = std::max(request.baseMaxW, kMinLayerLimit);
  const double b = layerScale(std::min(static_cast<double>(plan.baseMaxWidth) / width, 1.0));
  plan.base.region = Rect{0, 0, static_cast<double>(width), static_cast<double>(height)};
  plan.base.outputWidth = outputSize(width, b);
  plan.base.outputHeight = outputSize(height, b);
  const std::string baseKey = baseLayerKey(frame.displayID, request, width, height);
  if (!holds(base, frame.seq, baseKey)) decideLayer(plan.base, base, patchClient, frame.seq, baseKey);

  plan.viewport = validViewport(request);
  if (plan.viewport) {
    const Rect& v = *plan.viewport;
    const Rect wanted = Rect{v.x * width, v.y * height, v.width * width, v.height * height}.integral();
    const Rect region = wanted.intersection(plan.base.region).value_or(Rect{});
    plan.detailMaxWidth = std::clamp(request.detailMaxW, kMinLayerLimit, kMaxDetailLimit);
    plan.detailMaxHeight = std::clamp(request.detailMaxH, kMinLayerLimit, kMaxDetailLimit);
    const double d = layerScale(std::min({static_cast<double>(plan.detailMaxWidth) / std::max(region.width, 1.0),
                               region.height >= 1 ? plan.detailMaxHeight / region.height
                                                  : static_cast<double>(plan.detailMaxHeight),
                               1.0}));
    plan.detail.region = region;
    plan.detail.outputWidth = outputSize(region.width, d);
    plan.detail.outputHeight = outputSize(region.height, d);
    const std::string detailKey = detailLayerKey(frame.displayID, request, width, height);
    if (!holds(detail, frame.seq, detailKey)) decideLayer(plan.detail, detail, patchClient, frame.seq, detailKey);
  }

  if (!plan.base.sends() && !plan.detail.sends()) return std::nullopt;
  return plan;
}

}  // namespace vistaro
