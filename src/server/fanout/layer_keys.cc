#include "server/fanout/layer_keys.h"

#include <fmt/format.h>

namespace vistaro {

std::string baseLayerKey(DisplayID display, const RequestMessage& request, int width, int height) {
  return fmt::format("{}-{}-{}x{}", display, request.baseMaxW, width, height);
}

std::string detailLayerKey(DisplayID display, const RequestMessage& request, int width, int height) {
  const std::vector<double>& v = *request.viewport;
  // The limits go in as received (not clamped): a new limit is a new layer even when it sizes the same.
  return fmt::format("{}-{:.3f},{:.3f},{:.3f},{:.3f}-{}-{}-{}x{}", static_cast<int32_t>(display), v[0], v[1], v[2],
                     v[3], request.detailMaxW, request.detailMaxH, width, height);
}

}  // namespace vistaro
