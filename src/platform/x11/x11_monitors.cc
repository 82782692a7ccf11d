#include "platform/x11/x11_monitors.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <fmt/format.h>

#include <algorithm>
#include <memory>

namespace vistaro::x11 {
namespace {

std::string atomName(::Display* display, Atom atom) {
  if (atom == None) return {};
  std::unique_ptr<char, int (*)(void*)> name(XGetAtomName(display, atom), XFree);
  return name ? std::string(name.get()) : std::string();
}

bool hasMonitorSupport(::Display* display) {
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(display, &eventBase, &errorBase)) return false;
  if (!XRRQueryVersion(display, &major, &minor)) return false;
  return major > 1 || (major == 1 && minor >= 5);
}

// Unnamed monitors still need an ID that survives a restart: their geometry is the best we have.
std::string identityKey(const Monitor& monitor) {
  if (!monitor.name.empty()) return monitor.name;
  const Rect& b = monitor.bounds;
  return fmt::format("@{}x{}+{}+{}", b.width, b.height, b.x, b.y);
}

void assignIDs(std::vector<Monitor>& monitors) {
  std::vector<DisplayID> taken;
  for (Monitor& monitor : monitors) {
    DisplayID id = monitorID(identityKey(monitor));
    while (std::find(taken.begin(), taken.end(), id) != taken.end()) id = id == UINT32_MAX ? 1 : id + 1;
    taken.push_back(id);
    monitor.id = id;
  }
}

}  // namespace

DisplayID monitorID(std::string_view name) {
  // FNV-1a, 32 bits: tiny, well known, and the same on every build.
  uint32_t hash = 2166136261u;
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash == 0 ? 1 : hash;
}

std::vector<Monitor> listMonitors(::Display* display) {
  std::vector<Monitor> monitors;
  Window root = DefaultRootWindow(display);
  if (hasMonitorSupport(display)) {
    int count = 0;
    XRRMonitorInfo* infos = XRRGetMonitors(display, root, True, &count);
    for (int i = 0; i < count; ++i) {
      const XRRMonitorInfo& info = infos[i];
      if (info.width <= 0 || info.height <= 0) continue;
      monitors.push_back({0, atomName(display, info.name),
                          Rect{double(info.x), double(info.y), double(info.width), double(info.height)},
                          info.primary != 0});
    }
    if (infos) XRRFreeMonitors(infos);
  }
  if (monitors.empty()) {
    int screen = DefaultScreen(display);
    monitors.push_back({0, {}, Rect{0, 0, double(DisplayWidth(display, screen)), double(DisplayHeight(display, screen))},
                        true});
  }
  assignIDs(monitors);
  return monitors;
}

}  // namespace vistaro::x11
