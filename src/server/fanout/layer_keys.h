#pragma once

#include <string>

#include "wire/messages.h"

namespace vistaro {

// What a client holds of a layer: equal keys (for the same frame) mean the
// client already has exactly what would be sent.
std::string baseLayerKey(DisplayID display, const RequestMessage& request, int width, int height);
// Only for a request whose viewport has four numbers.
std::string detailLayerKey(DisplayID display, const RequestMessage& request, int width, int height);

}  // namespace vistaro
