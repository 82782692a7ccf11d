#pragma once

#include <X11/Xlib.h>

#include <string>

#include "platform/x11/crtc_gamma.h"

namespace vistaro::testing {

// The first CRTC's colour ramps, as another client of the display reads or sets them.
inline x11::GammaRamp firstCrtcRamp(const std::string& name, const std::optional<x11::GammaRamp>& set = {}) {
  ::Display* display = XOpenDisplay(name.c_str());
  const unsigned long crtc = x11::activeCrtcs(display).at(0).id;
  if (set) x11::writeRamp(display, crtc, *set);
  x11::GammaRamp ramp = x11::readRamp(display, crtc).value();
  XCloseDisplay(display);
  return ramp;
}

// White at 80 %: a ramp a fresh Xvfb does not have, so that "as before" means something.
inline x11::GammaRamp setDimmedRamp(const std::string& name) {
  return firstCrtcRamp(name, x11::scaledRamp(x11::identityRamp(firstCrtcRamp(name).red.size()), 0.8f));
}

}  // namespace vistaro::testing
