#pragma once

// For the RandR code's own .cc files: pulls in Xlib's macros.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/randr_layout.h"

namespace vistaro::x11 {

// The screen's current RandR resources with their outputs' names and mode lists, read once.
class RandrResources {
 public:
  struct Output {
    RROutput id = 0;
    std::string name;
    std::vector<RRMode> modes;  // what it may show, its own and those added to it
  };

  static std::optional<RandrResources> read(::Display* display);

  XRRScreenResources* get() const { return resources_.get(); }
  const std::vector<Output>& outputs() const { return outputs_; }
  const Output* output(const std::string& name) const;
  const Output* output(RROutput id) const;
  std::optional<ModeTimings> timings(RRMode mode) const;
  std::optional<RRMode> find(const ModeTimings& timings) const;

 private:
  std::shared_ptr<XRRScreenResources> resources_;
  std::vector<Output> outputs_;
};

ModeTimings toTimings(const XRRModeInfo& mode);

}  // namespace vistaro::x11
