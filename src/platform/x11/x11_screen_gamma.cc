#include "platform/x11/x11_screen_gamma.h"

#include "core/log.h"

namespace vistaro::x11 {

// A server that went away took its ramps with it: what was remembered of the old one means nothing.
::Display* X11ScreenGamma::display() {
  if (!live(connection_.get())) {
    changed_.clear();
    covered_.clear();
    connection_ = Connection::open(displayName_);
  }
  return live(connection_.get()) ? connection_->get() : nullptr;
}

std::vector<Monitor> X11ScreenGamma::monitors() {
  ::Display* d = display();
  return d ? listMonitors(d) : std::vector<Monitor>{};
}

std::vector<Crtc> X11ScreenGamma::crtcsOf(DisplayID id) {
  ::Display* d = display();
  if (!d) return {};
  std::optional<Rect> bounds;
  for (const Monitor& monitor : listMonitors(d)) {
    if (monitor.id == id) bounds = monitor.bounds;
  }
  std::vector<Crtc> crtcs;
  if (!bounds) return crtcs;
  // A monitor split off with --setmonitor shares its CRTC with its neighbours: they dim together.
  for (Crtc& crtc : activeCrtcs(d)) {
    if (crtc.bounds.intersects(*bounds)) crtcs.push_back(std::move(crtc));
  }
  return crtcs;
}

std::vector<std::string> X11ScreenGamma::outputsOf(DisplayID display) {
  std::vector<std::string> outputs;
  for (const Crtc& crtc : crtcsOf(display)) outputs.insert(outputs.end(), crtc.outputs.begin(), crtc.outputs.end());
  return outputs;
}

X11ScreenGamma::Changed* X11ScreenGamma::remember(unsigned long crtc) {
  if (auto it = changed_.find(crtc); it != changed_.end()) return &it->second;
  std::optional<GammaRamp> ramp = readRamp(connection_->get(), crtc);
  if (connection_->takeError() != 0 || !ramp) return nullptr;
  const float level = rampLevel(*ramp);
  return &changed_.emplace(crtc, Changed{std::move(*ramp), level}).first->second;
}

void X11ScreenGamma::apply(unsigned long crtc) {
  auto it = changed_.find(crtc);
  if (it == changed_.end()) return;
  const Changed& c = it->second;
  const float originalLevel = rampLevel(c.original);
  if (!curtained_ && c.level == originalLevel) {
    writeRamp(connection_->get(), crtc, c.original);
    changed_.erase(it);  // as it was: nothing left to undo
  } else if (curtained_ || c.level <= 0) {
    writeRamp(connection_->get(), crtc, scaledRamp(c.original, 0));
  } else {
    // Only a restore after a crash asks for a level the original ramp did not have.
    const GammaRamp base = isDark(c.original) ? identityRamp(c.original.red.size()) : c.original;
    writeRamp(connection_->get(), crtc, scaledRamp(base, c.level / rampLevel(base)));
  }
  connection_->takeError();  // a CRTC that went meanwhile has nothing to show
}

std::optional<float> X11ScreenGamma::level(DisplayID display) {
  const std::vector<Crtc> crtcs = crtcsOf(display);
  if (crtcs.empty()) return std::nullopt;
  if (auto it = changed_.find(crtcs.front().id); it != changed_.end()) return it->second.level;
  std::optional<GammaRamp> ramp = readRamp(connection_->get(), crtcs.front().id);
  if (connection_->takeError() != 0 || !ramp) return std::nullopt;
  return rampLevel(*ramp);
}

void X11ScreenGamma::setLevel(DisplayID display, float level) {
  for (const Crtc& crtc : crtcsOf(display)) {
    if (Changed* c = remember(crtc.id)) {
      c->level = level;
      apply(crtc.id);
    }
  }
}

void X11ScreenGamma::show() {
  curtained_ = true;
  covered_.clear();
  if (!display()) return;
  for (const Crtc& crtc : activeCrtcs(connection_->get())) {
    if (!remember(crtc.id)) continue;
    apply(crtc.id);
    covered_.insert(crtc.id);
  }
}

void X11ScreenGamma::hide() {
  curtained_ = false;
  covered_.clear();
  if (!display()) return;
  std::vector<unsigned long> crtcs;
  for (const auto& [crtc, changed] : changed_) crtcs.push_back(crtc);
  for (unsigned long crtc : crtcs) apply(crtc);
}

bool X11ScreenGamma::coverScreens() {
  ::Display* d = display();
  if (!d) return true;  // no screens to cover until the server is back
  std::set<unsigned long> active;
  for (const Crtc& crtc : activeCrtcs(d)) {
    std::optional<GammaRamp> ramp = readRamp(d, crtc.id);
    if (connection_->takeError() == 0 && ramp && !isDark(*ramp)) return false;
    active.insert(crtc.id);
  }
  return active == covered_;
}

void X11ScreenGamma::clearLeftovers() {
  ::Display* d = display();
  if (!d) return;
  for (const Crtc& crtc : activeCrtcs(d)) {
    std::optional<GammaRamp> ramp = readRamp(d, crtc.id);
    if (connection_->takeError() != 0 || !ramp || !isDark(*ramp) || changed_.count(crtc.id)) continue;
    logInfo("power", "uncovering {}, left dark by an earlier run", crtc.outputs.empty() ? "a screen" : crtc.outputs[0]);
    writeRamp(d, crtc.id, identityRamp(ramp->red.size()));
  }
}

}  // namespace vistaro::x11
