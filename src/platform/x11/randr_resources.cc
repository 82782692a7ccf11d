#include "platform/x11/randr_resources.h"

namespace vistaro::x11 {

std::optional<RandrResources> RandrResources::read(::Display* display) {
  XRRScreenResources* raw = XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display));
  if (!raw) return std::nullopt;
  RandrResources resources;
  resources.resources_.reset(raw, XRRFreeScreenResources);
  for (int i = 0; i < raw->noutput; ++i) {
    XRROutputInfo* info = XRRGetOutputInfo(display, raw, raw->outputs[i]);
    if (!info) continue;
    resources.outputs_.push_back({raw->outputs[i], std::string(info->name, info->nameLen),
                                  std::vector<RRMode>(info->modes, info->modes + info->nmode)});
    XRRFreeOutputInfo(info);
  }
  return resources;
}

const RandrResources::Output* RandrResources::output(const std::string& name) const {
  for (const Output& o : outputs_) {
    if (o.name == name) return &o;
  }
  return nullptr;
}

const RandrResources::Output* RandrResources::output(RROutput id) const {
  for (const Output& o : outputs_) {
    if (o.id == id) return &o;
  }
  return nullptr;
}

ModeTimings toTimings(const XRRModeInfo& m) {
  return {std::string(m.name, m.nameLength), m.width, m.height, m.dotClock, m.hSyncStart, m.hSyncEnd, m.hTotal,
          m.hSkew, m.vSyncStart, m.vSyncEnd, m.vTotal, m.modeFlags};
}

std::optional<ModeTimings> RandrResources::timings(RRMode mode) const {
  for (int i = 0; i < resources_->nmode; ++i) {
    if (resources_->modes[i].id == mode) return toTimings(resources_->modes[i]);
  }
  return std::nullopt;
}

std::optional<RRMode> RandrResources::find(const ModeTimings& timings) const {
  for (int i = 0; i < resources_->nmode; ++i) {
    if (toTimings(resources_->modes[i]) == timings) return resources_->modes[i].id;
  }
  return std::nullopt;
}

}  // namespace vistaro::x11
