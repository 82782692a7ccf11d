#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/geometry.h"
#include "platform/x11/xlib_fwd.h"

namespace vistaro::x11 {

// A CRTC's colour ramps: what the monitor shows for each framebuffer value, applied at scan-out,
// so the framebuffer the host grabs never sees them.
struct GammaRamp {
  std::vector<uint16_t> red, green, blue;
  bool operator==(const GammaRamp&) const = default;
};

GammaRamp identityRamp(size_t size);
GammaRamp scaledRamp(const GammaRamp& ramp, float factor);
bool isDark(const GammaRamp& ramp);
// How bright the ramp shows white, 0 to 1. An all-zero ramp is what a fresh Xvfb reports and
// what a host that died under its curtains leaves: taken as the identity, not as a dark screen.
float rampLevel(const GammaRamp& ramp);

// A CRTC that scans a part of the screen out to monitors.
struct Crtc {
  unsigned long id = 0;
  Rect bounds;
  std::vector<std::string> outputs;  // "eDP-1", "HDMI-1", ...
};

std::vector<Crtc> activeCrtcs(::Display* display);
std::optional<GammaRamp> readRamp(::Display* display, unsigned long crtc);
void writeRamp(::Display* display, unsigned long crtc, const GammaRamp& ramp);

}  // namespace vistaro::x11
