#include "control/virtual_size.h"

#include <algorithm>
#include <cmath>

namespace vistaro {

VirtualSize virtualSizeFor(const std::optional<ClientDisplayMessage>& client, VirtualSize fallback) {
  if (!client || client->pixelW < 1 || client->pixelH < 1) return fallback;
  const double pw = static_cast<double>(client->pixelW) / 2;
  const double ph = static_cast<double>(client->pixelH) / 2;
  const double scale = std::max({1.0, 800 / pw, 600 / ph});
  const double factor = client->textSize == "large" ? 0.8 : client->textSize == "small" ? 1.3 : 1.0;
  auto even = [&](double points) { return 2 * static_cast<int64_t>(std::trunc(points * scale * factor / 2)); };
  return {even(pw), even(ph), true};
}

}  // namespace vistaro
