#pragma once

#include <array>
#include <filesystem>
#include <optional>

#include "client/frame_message.h"
#include "client/jpeg_image.h"

namespace vistaro::client {

// The base and detail images as this client holds them: a whole layer
// replaces its image, patches are drawn onto it.
class LayerImages {
 public:
  // False when some image of the message could not be used (undecodable, or a
  // patch for a layer not held); the rest is still applied.
  bool apply(const FrameMessage& message);

  const std::optional<RgbImage>& base() const { return base_; }
  const std::optional<RgbImage>& detail() const { return detail_; }
  // The part of the screen the detail image shows, normalised; from the last whole detail layer.
  const std::optional<std::array<double, 4>>& detailRect() const { return detailRect_; }

 private:
  std::optional<RgbImage> base_;
  std::optional<RgbImage> detail_;
  std::optional<std::array<double, 4>> detailRect_;
};

// Draws source scaled to w × h with its top-left at (x, y), clipped to target.
void drawScaled(const RgbImage& source, RgbImage& target, int64_t x, int64_t y, int64_t w, int64_t h);

// Binary PPM (P6). False when the file cannot be written.
bool writePpm(const RgbImage& image, const std::filesystem::path& path);

}  // namespace vistaro::client
