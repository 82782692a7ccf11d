#include "platform/x11/randr_layout.h"

#include <fmt/format.h>
#include <sys/socket.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "platform/x11/randr_resources.h"

namespace vistaro::x11 {
namespace {

constexpr int32_t kFixedOne = 1 << 16;

std::string atomName(::Display* display, Atom atom) {
  std::unique_ptr<char, int (*)(void*)> name(XGetAtomName(display, atom), XFree);
  return name ? std::string(name.get()) : std::string();
}

std::optional<CrtcTransform> readTransform(::Display* display, RRCrtc crtc) {
  XRRCrtcTransformAttributes* raw = nullptr;
  if (!XRRGetCrtcTransform(display, crtc, &raw) || !raw) return std::nullopt;
  std::unique_ptr<XRRCrtcTransformAttributes, int (*)(void*)> attributes(raw, XFree);
  CrtcTransform transform;
  for (int i = 0; i < 9; ++i) transform.matrix[i] = raw->currentTransform.matrix[i / 3][i % 3];
  if (raw->currentFilter) transform.filter = raw->currentFilter;
  transform.parameters.assign(raw->currentParams, raw->currentParams + raw->currentNparams);
  return transform;
}

std::vector<std::string> outputNames(const RandrResources& resources, const RROutput* ids, int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    if (const auto* output = resources.output(ids[i])) names.push_back(output->name);
  }
  return names;
}

std::vector<CrtcLayout> readCrtcs(::Display* display, const RandrResources& resources) {
  std::vector<CrtcLayout> crtcs;
  XRRScreenResources* raw = resources.get();
  for (int i = 0; i < raw->ncrtc; ++i) {
    XRRCrtcInfo* info = XRRGetCrtcInfo(display, raw, raw->crtcs[i]);
    if (!info) continue;
    CrtcLayout crtc{raw->crtcs[i]};
    if (info->mode != None) crtc.mode = resources.timings(info->mode);
    crtc.x = info->x;
    crtc.y = info->y;
    crtc.rotation = info->rotation;
    crtc.outputs = outputNames(resources, info->outputs, info->noutput);
    XRRFreeCrtcInfo(info);
    crtc.transform = readTransform(display, crtc.id);
    crtcs.push_back(std::move(crtc));
  }
  return crtcs;
}

std::vector<MonitorLayout> readUserMonitors(::Display* display, const RandrResources& resources) {
  std::vector<MonitorLayout> monitors;
  int count = 0;
  XRRMonitorInfo* infos = XRRGetMonitors(display, DefaultRootWindow(display), False, &count);
  for (int i = 0; i < count; ++i) {
    const XRRMonitorInfo& m = infos[i];
    if (m.automatic) continue;
    monitors.push_back({atomName(display, m.name), m.primary != 0, m.x, m.y, m.width, m.height, m.mwidth, m.mheight,
                        outputNames(resources, m.outputs, m.noutput)});
  }
  if (infos) XRRFreeMonitors(infos);
  return monitors;
}

bool hasRandr15(::Display* display) {
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  return XRRQueryExtension(display, &eventBase, &errorBase) && XRRQueryVersion(display, &major, &minor) &&
         (major > 1 || (major == 1 && minor >= 5));
}

// Xlib keeps the screen's size from the connection's start; these events bring it up to date.
void takeScreenChanges(::Display* display) {
  XRRSelectInput(display, DefaultRootWindow(display), RRScreenChangeNotifyMask);
  XSync(display, False);
  while (XPending(display)) {
    XEvent event;
    XNextEvent(display, &event);
    XRRUpdateConfiguration(&event);
  }
}

std::string firstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

}  // namespace

CrtcTransform identityTransform() {
  CrtcTransform transform;
  transform.matrix = {kFixedOne, 0, 0, 0, kFixedOne, 0, 0, 0, kFixedOne};
  return transform;
}

CrtcTransform scalingTransform(uint32_t width, uint32_t height, uint32_t modeWidth, uint32_t modeHeight) {
  CrtcTransform transform = identityTransform();
  transform.matrix[0] = static_cast<int32_t>(std::lround(double(width) / modeWidth * kFixedOne));
  transform.matrix[4] = static_cast<int32_t>(std::lround(double(height) / modeHeight * kFixedOne));
  transform.filter = "bilinear";
  return transform;
}

std::optional<ScreenLayout> readLayout(::Display* display) {
  if (!hasRandr15(display)) return std::nullopt;
  takeScreenChanges(display);
  std::optional<RandrResources> resources = RandrResources::read(display);
  if (!resources) return std::nullopt;
  const int screen = DefaultScreen(display);
  ScreenLayout layout{DisplayString(display), serverInstance(display), DisplayWidth(display, screen),
                      DisplayHeight(display, screen), DisplayWidthMM(display, screen), DisplayHeightMM(display, screen)};
  layout.crtcs = readCrtcs(display, *resources);
  if (const auto* primary = resources->output(XRRGetOutputPrimary(display, DefaultRootWindow(display)))) {
    layout.primaryOutput = primary->name;
  }
  layout.monitors = readUserMonitors(display, *resources);
  return layout;
}

std::string serverInstance(::Display* display) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(ConnectionNumber(display), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.pid <= 0) return {};
  const std::string stat = firstLine(fmt::format("/proc/{}/stat", peer.pid));
  const size_t nameEnd = stat.rfind(')');
  if (nameEnd == std::string::npos) return {};
  // After the command's name: state is field 3, the start time since boot field 22.
  std::istringstream fields(stat.substr(nameEnd + 1));
  std::string field;
  int index = 2;
  while (index < 22 && fields >> field) ++index;
  const std::string boot = firstLine("/proc/sys/kernel/random/boot_id");
  if (index != 22 || boot.empty()) return {};
  return fmt::format("{}/{}/{}", boot, peer.pid, field);
}

}  // namespace vistaro::x11
