#include "client/layer_images.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>

namespace vistaro::client {
namespace {

bool applyPatches(const std::optional<std::vector<PatchInfo>>& infos, const std::vector<FrameMessage::Image>& images,
                  std::optional<RgbImage>& layer) {
  if (!infos) return true;
  bool complete = true;
  for (size_t i = 0; i < infos->size(); ++i) {
    const auto patch = layer ? decodeJpeg(images[i]) : std::nullopt;
    if (!patch) {
      complete = false;
      continue;
    }
    const PatchInfo& info = (*infos)[i];
    drawScaled(*patch, *layer, info.x, info.y, info.w, info.h);
  }
  return complete;
}

bool replaceWhole(FrameMessage::Image jpeg, std::optional<RgbImage>& layer) {
  if (jpeg.empty()) return true;
  auto image = decodeJpeg(jpeg);
  if (!image) return false;
  layer = std::move(image);
  return true;
}

}  // namespace

bool LayerImages::apply(const FrameMessage& message) {
  bool complete = replaceWhole(message.base, base_);
  if (!message.detail.empty()) {
    complete = replaceWhole(message.detail, detail_) && complete;
    detailRect_ = message.header.detailRect;
  }
  complete = applyPatches(message.header.basePatches, message.basePatches, base_) && complete;
  complete = applyPatches(message.header.detailPatches, message.detailPatches, detail_) && complete;
  return complete;
}

void drawScaled(const RgbImage& source, RgbImage& target, int64_t x, int64_t y, int64_t w, int64_t h) {
  if (w <= 0 || h <= 0 || source.width <= 0 || source.height <= 0) return;
  // The rectangle comes off the wire; bounded like this, nothing below overflows and
  // whatever is clamped lies wholly off the image anyway.
  constexpr int64_t far = int64_t{1} << 40;
  x = std::clamp(x, -far, far);
  y = std::clamp(y, -far, far);
  w = std::min(w, far);
  h = std::min(h, far);
  const int64_t left = std::clamp<int64_t>(x, 0, target.width);
  const int64_t right = std::clamp<int64_t>(x + w, 0, target.width);
  const int64_t top = std::clamp<int64_t>(y, 0, target.height);
  const int64_t bottom = std::clamp<int64_t>(y + h, 0, target.height);
  const bool sameSize = w == source.width && h == source.height;
  for (int64_t ty = top; ty < bottom; ++ty) {
    const int64_t sy = (ty - y) * source.height / h;
    if (sameSize) {
      std::memcpy(target.pixel(static_cast<int>(left), static_cast<int>(ty)),
                  source.pixel(static_cast<int>(left - x), static_cast<int>(sy)),
                  static_cast<size_t>(right - left) * 3);
      continue;
    }
    for (int64_t tx = left; tx < right; ++tx) {
      const int64_t sx = (tx - x) * source.width / w;  // nearest neighbour: a mis-sized patch is a host fault
      std::memcpy(target.pixel(static_cast<int>(tx), static_cast<int>(ty)),
                  source.pixel(static_cast<int>(sx), static_cast<int>(sy)), 3);
    }
  }
}

bool writePpm(const RgbImage& image, const std::filesystem::path& path) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << "P6\n" << image.width << ' ' << image.height << "\n255\n";
  file.write(reinterpret_cast<const char*>(image.rgb.data()), static_cast<std::streamsize>(image.rgb.size()));
  return static_cast<bool>(file.flush());
}

}  // namespace vistaro::client
