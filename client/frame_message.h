#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "wire/messages.h"

namespace vistaro::client {

// A frame body cut into its header and images. The spans point into the body
// it was parsed from, which must outlive them.
struct FrameMessage {
  using Image = std::span<const uint8_t>;

  FrameHeader header;
  Image base;    // empty when the base layer is not sent whole
  Image detail;  // likewise for the detail layer
  std::vector<Image> basePatches;    // one per header.basePatches entry
  std::vector<Image> detailPatches;  // one per header.detailPatches entry
};

// Absent when the header does not decode or its lengths do not account for
// the body's bytes exactly.
std::optional<FrameMessage> parseFrameMessage(const Bytes& body);

}  // namespace vistaro::client
