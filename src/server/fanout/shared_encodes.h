#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <tuple>

#include "capture/layer_encoder.h"

namespace vistaro {

// Clients that want the same layer or patch of the same frame at the same size share one
// encode: results are kept for the two newest frames, so jobs of clients a frame apart still
// meet. On the encode queue only.
class SharedEncodes {
 public:
  explicit SharedEncodes(LayerEncoder& encoder) : encoder_(encoder) {}

  // The encoder for the layers of frame `seq`; valid until the next call.
  LayerEncoder& forFrame(uint64_t seq);

 private:
  // Rectangles and sizes as they are asked for; equal requests give equal images.
  using LayerKey = std::tuple<bool, double, double, double, double, int64_t, int64_t, double>;
  using PatchKey = std::tuple<double, double, double, double, int, int, double, double, double, double, double>;
  struct FrameEncodes final : LayerEncoder {
    FrameEncodes(LayerEncoder& encoder, uint64_t seq) : encoder(&encoder), seq(seq) {}
    std::optional<Layer> encode(const PixelBuffer& buffer, std::optional<Rect> normalizedRegion, int64_t maxWidth,
                                int64_t maxHeight, double quality) override;
    std::optional<Bytes> encodePatch(const PixelBuffer& buffer, const Rect& layerRect, int outputWidth,
                                     int outputHeight, const Rect& patchRect, double quality) override;

    LayerEncoder* encoder;
    uint64_t seq;
    std::map<LayerKey, std::optional<Layer>> layers;
    std::map<PatchKey, std::optional<Bytes>> patches;
  };

  LayerEncoder& encoder_;
  std::deque<FrameEncodes> frames_;  // newest last
  std::optional<FrameEncodes> stale_;
};

}  // namespace vistaro
