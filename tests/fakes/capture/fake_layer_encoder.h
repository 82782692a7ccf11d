#pragma once

#include <fmt/format.h>

#include <string>
#include <vector>

#include "capture/layer_encoder.h"

namespace vistaro::testing {

// Stands in for JPEG encoding: each image is a few bytes naming what was asked
// of it, and any kind can be made to fail.
class FakeLayerEncoder final : public LayerEncoder {
 public:
  bool failLayers = false, failPatches = false;
  std::vector<std::string> calls;  // "layer WxH qQ" per whole layer, "patch X,Y qQ" per patch

  std::optional<Layer> encode(const PixelBuffer&, std::optional<Rect> region, int64_t maxWidth, int64_t maxHeight,
                              double quality) override {
    calls.push_back(fmt::format("layer {}x{} q{}", maxWidth, maxHeight, quality));
    if (failLayers) return std::nullopt;
    return Layer{Bytes(region ? 30 : 20, 'L'), region.value_or(Rect{0, 0, 1, 1})};
  }
  std::optional<Bytes> encodePatch(const PixelBuffer&, const Rect&, int, int, const Rect& patch,
                                   double quality) override {
    calls.push_back(fmt::format("patch {},{} q{}", patch.x, patch.y, quality));
    return failPatches ? std::nullopt : std::optional(Bytes(7, 'P'));
  }
};

}  // namespace vistaro::testing
