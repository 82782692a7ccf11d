#include "server/fanout/shared_encodes.h"

#include <algorithm>

namespace vistaro {
namespace {

constexpr size_t kFramesKept = 2;

template <typename Map, typename Make>
const typename Map::mapped_type& remembered(Map& map, const typename Map::key_type& key, Make make) {
  auto found = map.find(key);
  if (found == map.end()) found = map.emplace(key, make()).first;
  return found->second;
}

}  // namespace

LayerEncoder& SharedEncodes::forFrame(uint64_t seq) {
  auto found = std::find_if(frames_.begin(), frames_.end(), [&](const FrameEncodes& f) { return f.seq == seq; });
  if (found != frames_.end()) return *found;
  // A job for a frame older than those kept is rare (a client far behind): it encodes alone.
  if (!frames_.empty() && seq < frames_.front().seq) return stale_.emplace(encoder_, seq);
  frames_.emplace_back(encoder_, seq);
  if (frames_.size() > kFramesKept) frames_.pop_front();
  return frames_.back();
}

std::optional<LayerEncoder::Layer> SharedEncodes::FrameEncodes::encode(const PixelBuffer& buffer,
                                                                       std::optional<Rect> region, int64_t maxWidth,
                                                                       int64_t maxHeight, double quality) {
  const Rect r = region.value_or(Rect{});
  const LayerKey key{region.has_value(), r.x, r.y, r.width, r.height, maxWidth, maxHeight, quality};
  return remembered(layers, key, [&] { return encoder->encode(buffer, region, maxWidth, maxHeight, quality); });
}

std::optional<Bytes> SharedEncodes::FrameEncodes::encodePatch(const PixelBuffer& buffer, const Rect& layerRect,
                                                              int outputWidth, int outputHeight, const Rect& patchRect,
                                                              double quality) {
  const PatchKey key{layerRect.x,  layerRect.y,  layerRect.width, layerRect.height, outputWidth,     outputHeight,
                     patchRect.x, patchRect.y, patchRect.width,  patchRect.height, quality};
  return remembered(patches, key, [&] {
    return encoder->encodePatch(buffer, layerRect, outputWidth, outputHeight, patchRect, quality);
  });
}

}  // namespace vistaro
