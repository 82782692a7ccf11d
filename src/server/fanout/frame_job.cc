#include "server/fanout/frame_job.h"

#include <cmath>

namespace vistaro {
namespace {

constexpr int64_t kNoHeightLimit = int64_t{1} << 62;

struct EncodedPatches {
  std::vector<PatchInfo> infos;
  std::vector<Bytes> images;
  bool complete = true;
};

EncodedPatches encodePatches(LayerEncoder& encoder, const PixelBuffer& buffer, const LayerPlan& layer,
                             double quality) {
  EncodedPatches result;
  for (const Rect& patch : layer.patches) {
    auto jpeg = encoder.encodePatch(buffer, layer.region, layer.outputWidth, layer.outputHeight, patch, quality);
    if (!jpeg) {
      result.complete = false;
      continue;
    }
    result.infos.push_back(PatchInfo{static_cast<int64_t>(std::trunc(patch.x)), static_cast<int64_t>(std::trunc(patch.y)),
                                     static_cast<int64_t>(std::trunc(patch.width)),
                                     static_cast<int64_t>(std::trunc(patch.height)),
                                     static_cast<int64_t>(jpeg->size())});
    result.images.push_back(std::move(*jpeg));
  }
  return result;
}

void append(Bytes& body, const Bytes& part) { body.insert(body.end(), part.begin(), part.end()); }

}  // namespace

EncodedFrame encodeFrame(LayerEncoder& encoder, const FramePlan& plan) {
  const PixelBuffer& buffer = *plan.frame.buffer;
  EncodedFrame result;

  std::optional<LayerEncoder::Layer> base;
  if (plan.base.whole) {
    base = encoder.encode(buffer, std::nullopt, plan.baseMaxWidth, kNoHeightLimit, kBaseQuality);
    result.baseIncomplete = !base;
  }
  std::optional<LayerEncoder::Layer> detail;
  if (plan.detail.whole && plan.viewport) {
    detail = encoder.encode(buffer, plan.viewport, plan.detailMaxWidth, plan.detailMaxHeight, kDetailQuality);
    // A viewport outside the frame has nothing to encode; that is not a lost layer.
    result.detailIncomplete = !detail && !plan.detail.region.isEmpty();
  }
  EncodedPatches basePatches = encodePatches(encoder, buffer, plan.base, kBaseQuality);
  EncodedPatches detailPatches = encodePatches(encoder, buffer, plan.detail, kDetailQuality);
  result.baseIncomplete = result.baseIncomplete || !basePatches.complete;
  result.detailIncomplete = result.detailIncomplete || !detailPatches.complete;

  FrameHeader header;
  header.seq = plan.frame.seq;
  header.displayID = plan.frame.displayID;
  header.screenW = buffer.width();
  header.screenH = buffer.height();
  header.pointScale = plan.frame.pointScale;
  header.baseLen = base ? static_cast<int64_t>(base->jpeg.size()) : 0;
  header.detailLen = detail ? static_cast<int64_t>(detail->jpeg.size()) : 0;
  const double width = buffer.width(), height = buffer.height();
  if (detail) {
    const Rect& r = detail->normalizedRect;
    header.detailRect = std::array<double, 4>{r.x, r.y, r.width, r.height};
  } else if (plan.patchClient && plan.viewport && !plan.detail.region.isEmpty()) {
    const Rect& r = plan.detail.region;
    header.detailRect = std::array<double, 4>{r.x / width, r.y / height, r.width / width, r.height / height};
  }
  if (!plan.base.patches.empty()) header.basePatches = std::move(basePatches.infos);
  if (!plan.detail.patches.empty()) header.detailPatches = std::move(detailPatches.infos);
  if (plan.patchClient) header.partial = true;

  // A header that cannot be encoded (a non-finite number) is sent as length 0; the images still follow.
  const Bytes json = encodeMessage(header).value_or(Bytes{});
  size_t total = 4 + json.size() + (base ? base->jpeg.size() : 0) + (detail ? detail->jpeg.size() : 0);
  for (const Bytes& image : basePatches.images) total += image.size();
  for (const Bytes& image : detailPatches.images) total += image.size();

  Bytes& body = result.body;
  body.reserve(total);
  const uint32_t length = static_cast<uint32_t>(json.size());
  for (int shift = 24; shift >= 0; shift -= 8) body.push_back(static_cast<uint8_t>(length >> shift));
  append(body, json);
  if (base) append(body, base->jpeg);
  if (detail) append(body, detail->jpeg);
  for (const Bytes& image : basePatches.images) append(body, image);
  for (const Bytes& image : detailPatches.images) append(body, image);
  return result;
}

}  // namespace vistaro
