#pragma once

#include <optional>

#include "display/virtual_screen.h"
#include "wire/messages.h"

namespace vistaro {

// The size the desktop takes for a client's screen: its proportions, in points of a two-pixel screen,
// at least 800 × 600 points before the client's text size scales it; even numbers. Without a
// client display, `fallback` (the main display, in points).
VirtualSize virtualSizeFor(const std::optional<ClientDisplayMessage>& client, VirtualSize fallback);

}  // namespace vistaro
