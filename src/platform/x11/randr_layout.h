#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/xlib_fwd.h"

namespace vistaro::x11 {

// A mode by what it is, not by its XID: what a saved layout finds again, or makes anew, later.
struct ModeTimings {
  std::string name;
  uint32_t width = 0, height = 0;
  uint64_t dotClock = 0;
  uint32_t hSyncStart = 0, hSyncEnd = 0, hTotal = 0, hSkew = 0;
  uint32_t vSyncStart = 0, vSyncEnd = 0, vTotal = 0;
  uint64_t flags = 0;
  bool operator==(const ModeTimings&) const = default;
};

// A CRTC's projective transform from its own pixels to the screen's, in 16.16 fixed point, row-major.
struct CrtcTransform {
  std::array<int32_t, 9> matrix{};
  std::string filter;
  std::vector<int32_t> parameters;
  bool operator==(const CrtcTransform&) const = default;
};
CrtcTransform identityTransform();
// Shows a `width` × `height` area of the screen on a mode of `modeWidth` × `modeHeight`.
CrtcTransform scalingTransform(uint32_t width, uint32_t height, uint32_t modeWidth, uint32_t modeHeight);

constexpr uint16_t kRotateNormal = 1;  // RR_Rotate_0

struct CrtcLayout {
  uint64_t id = 0;                   // CRTC XIDs are fixed for the life of a server
  std::optional<ModeTimings> mode;   // none: switched off
  int32_t x = 0, y = 0;
  uint16_t rotation = kRotateNormal;
  std::vector<std::string> outputs;
  std::optional<CrtcTransform> transform;  // none: the server has no transforms
  bool operator==(const CrtcLayout&) const = default;
};

// A monitor made with RRSetMonitor (xrandr --setmonitor), not one the server derives from an output.
struct MonitorLayout {
  std::string name;
  bool primary = false;
  int32_t x = 0, y = 0, width = 0, height = 0, widthMm = 0, heightMm = 0;
  std::vector<std::string> outputs;
  bool operator==(const MonitorLayout&) const = default;
};

// All of one X screen's configuration that fit mode changes.
struct ScreenLayout {
  std::string display;  // the display's name, ":0"
  std::string server;   // which server process answers there; empty when it cannot be told
  int32_t width = 0, height = 0, widthMm = 0, heightMm = 0;
  std::vector<CrtcLayout> crtcs;
  std::string primaryOutput;  // empty: none
  std::vector<MonitorLayout> monitors;
  bool operator==(const ScreenLayout&) const = default;
};

// The default screen's layout; absent without RandR 1.5.
std::optional<ScreenLayout> readLayout(::Display* display);

// The server process behind this connection (boot, process ID and start time), so that a server
// started anew on the same display is told apart; empty when it is not a local process.
std::string serverInstance(::Display* display);

}  // namespace vistaro::x11
