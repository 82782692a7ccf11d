#include "platform/x11/randr_fit_layout.h"

#include <libxcvt/libxcvt.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace vistaro::x11 {
namespace {

// A screen of another size keeps the density it had, so that fonts sized from it stay as they were.
int32_t sizeMm(int32_t pixels, int32_t beforePixels, int32_t beforeMm) {
  if (beforeMm <= 0 || beforePixels <= 0) return int32_t(std::lround(pixels * 25.4 / 96));
  return int32_t(std::lround(double(beforeMm) * pixels / beforePixels));
}

bool refuses(const CrtcLayout& crtc, const std::vector<std::string>& refusing) {
  for (const std::string& output : crtc.outputs) {
    if (std::find(refusing.begin(), refusing.end(), output) != refusing.end()) return true;
  }
  return false;
}

}  // namespace

std::string fitName(uint32_t serial) { return std::string(kFitPrefix) + std::to_string(serial); }

ModeTimings fitMode(uint32_t width, uint32_t height, const std::string& name) {
  ModeTimings mode{name, width, height};
  std::unique_ptr<libxcvt_mode_info, void (*)(void*)> cvt(
      libxcvt_gen_mode_info(int(width), int(height), 60, /*reduced=*/true, /*interlaced=*/false), std::free);
  if (!cvt || cvt->htotal == 0) return mode;  // all-zero timings: what Xvfb and the dummy driver take
  // CVT counts in cells of 8 pixels: its blanking is kept and moved to follow the exact width.
  const int64_t shift = int64_t(width) - int64_t(cvt->hdisplay);
  mode.hSyncStart = uint32_t(cvt->hsync_start + shift);
  mode.hSyncEnd = uint32_t(cvt->hsync_end + shift);
  mode.hTotal = uint32_t(cvt->htotal + shift);
  mode.vSyncStart = cvt->vsync_start;
  mode.vSyncEnd = cvt->vsync_end;
  mode.vTotal = cvt->vtotal;
  mode.dotClock = cvt->dot_clock * 1000 * mode.hTotal / cvt->htotal;  // kHz to Hz, same line rate
  mode.flags = cvt->mode_flags;
  // The protocol carries the clock in 32 bits; no monitor shows such a size anyway.
  if (mode.dotClock > UINT32_MAX) return ModeTimings{name, width, height};
  return mode;
}

std::optional<ScreenLayout> fitLayout(const ScreenLayout& before, const ModeTimings& mode,
                                      const std::vector<std::string>& refusingOutputs) {
  ScreenLayout fit = before;
  fit.width = int32_t(mode.width);
  fit.height = int32_t(mode.height);
  fit.widthMm = sizeMm(fit.width, before.width, before.widthMm);
  fit.heightMm = sizeMm(fit.height, before.height, before.heightMm);
  MonitorLayout monitor{mode.name, true, 0, 0, fit.width, fit.height, fit.widthMm, fit.heightMm};
  for (CrtcLayout& crtc : fit.crtcs) {
    if (!crtc.mode) continue;
    if (refuses(crtc, refusingOutputs)) {
      if (!crtc.transform) return std::nullopt;
      crtc.transform = scalingTransform(mode.width, mode.height, crtc.mode->width, crtc.mode->height);
    } else {
      crtc.mode = mode;
      if (crtc.transform) crtc.transform = identityTransform();
    }
    crtc.x = crtc.y = 0;
    crtc.rotation = kRotateNormal;
    monitor.outputs.insert(monitor.outputs.end(), crtc.outputs.begin(), crtc.outputs.end());
  }
  fit.monitors = {monitor};
  return fit;
}

}  // namespace vistaro::x11
