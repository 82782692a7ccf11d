#include "platform/x11/crtc_gamma.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace vistaro::x11 {
namespace {

constexpr float kFullScale = 65535.0f;

std::vector<uint16_t> scaled(const std::vector<uint16_t>& values, float factor) {
  std::vector<uint16_t> out(values.size());
  std::transform(values.begin(), values.end(), out.begin(), [factor](uint16_t v) {
    return static_cast<uint16_t>(std::clamp(std::lround(v * factor), 0L, 65535L));
  });
  return out;
}

}  // namespace

GammaRamp identityRamp(size_t size) {
  std::vector<uint16_t> values(size);
  for (size_t i = 0; i < size; ++i) values[i] = size > 1 ? static_cast<uint16_t>(i * 65535 / (size - 1)) : 65535;
  return {values, values, values};
}

GammaRamp scaledRamp(const GammaRamp& ramp, float factor) {
  return {scaled(ramp.red, factor), scaled(ramp.green, factor), scaled(ramp.blue, factor)};
}

bool isDark(const GammaRamp& ramp) {
  auto zero = [](const std::vector<uint16_t>& v) { return std::all_of(v.begin(), v.end(), [](uint16_t x) { return x == 0; }); };
  return zero(ramp.red) && zero(ramp.green) && zero(ramp.blue);
}

float rampLevel(const GammaRamp& ramp) {
  if (isDark(ramp)) return 1.0f;
  auto top = [](const std::vector<uint16_t>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); };
  return std::max({top(ramp.red), top(ramp.green), top(ramp.blue)}) / kFullScale;
}

std::vector<Crtc> activeCrtcs(::Display* display) {
  std::vector<Crtc> crtcs;
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display));
  if (!resources) return crtcs;
  for (int i = 0; i < resources->ncrtc; ++i) {
    XRRCrtcInfo* info = XRRGetCrtcInfo(display, resources, resources->crtcs[i]);
    if (!info) continue;
    if (info->mode != None && info->width > 0 && info->height > 0) {
      Crtc crtc{resources->crtcs[i], Rect{double(info->x), double(info->y), double(info->width), double(info->height)}, {}};
      for (int o = 0; o < info->noutput; ++o) {
        if (XRROutputInfo* output = XRRGetOutputInfo(display, resources, info->outputs[o])) {
          crtc.outputs.emplace_back(output->name, output->nameLen);
          XRRFreeOutputInfo(output);
        }
      }
      crtcs.push_back(std::move(crtc));
    }
    XRRFreeCrtcInfo(info);
  }
  XRRFreeScreenResources(resources);
  return crtcs;
}

std::optional<GammaRamp> readRamp(::Display* display, unsigned long crtc) {
  const int size = XRRGetCrtcGammaSize(display, crtc);
  if (size <= 0) return std::nullopt;
  std::unique_ptr<XRRCrtcGamma, void (*)(XRRCrtcGamma*)> gamma(XRRGetCrtcGamma(display, crtc), XRRFreeGamma);
  if (!gamma || gamma->size != size) return std::nullopt;
  return GammaRamp{{gamma->red, gamma->red + size}, {gamma->green, gamma->green + size}, {gamma->blue, gamma->blue + size}};
}

void writeRamp(::Display* display, unsigned long crtc, const GammaRamp& ramp) {
  const int size = static_cast<int>(ramp.red.size());
  std::unique_ptr<XRRCrtcGamma, void (*)(XRRCrtcGamma*)> gamma(XRRAllocGamma(size), XRRFreeGamma);
  if (!gamma) return;
  std::copy(ramp.red.begin(), ramp.red.end(), gamma->red);
  std::copy(ramp.green.begin(), ramp.green.end(), gamma->green);
  std::copy(ramp.blue.begin(), ramp.blue.end(), gamma->blue);
  XRRSetCrtcGamma(display, crtc, gamma.get());
  XSync(display, False);
}

}  // namespace vistaro::x11
