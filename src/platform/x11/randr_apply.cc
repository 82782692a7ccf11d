#include "platform/x11/randr_apply.h"

#include <fmt/format.h>

#include <algorithm>
#include <set>

#include "platform/x11/randr_resources.h"

namespace vistaro::x11 {
namespace {

bool isIdentity(const CrtcTransform& t) { return t.matrix == identityTransform().matrix; }

// An identity reads back with whatever filter the server last had; it shows the same either way.
bool sameTransform(const std::optional<CrtcTransform>& a, const std::optional<CrtcTransform>& b) {
  if (!a || !b) return true;  // a server without transforms: nothing to compare or set
  return a->matrix == b->matrix && (isIdentity(*a) || (a->filter == b->filter && a->parameters == b->parameters));
}

bool sameConfig(const CrtcLayout& a, const CrtcLayout& b) {
  if (!a.mode || !b.mode) return !a.mode && !b.mode;
  return a.mode == b.mode && a.x == b.x && a.y == b.y && a.rotation == b.rotation && a.outputs == b.outputs &&
         sameTransform(a.transform, b.transform);
}

// Other clients see the change whole, not its steps.
class ServerGrab {
 public:
  explicit ServerGrab(Connection& connection) : connection_(connection) { XGrabServer(connection_.get()); }
  ~ServerGrab() {
    if (!live(&connection_)) return;  // the server ended the grab with the connection
    XUngrabServer(connection_.get());
    XSync(connection_.get(), False);
  }
  ServerGrab(const ServerGrab&) = delete;
  ServerGrab& operator=(const ServerGrab&) = delete;

 private:
  Connection& connection_;
};

// A lost server counts as a refusal: nothing more may be sent on its connection.
bool failed(Connection& connection) {
  if (live(&connection)) XSync(connection.get(), False);
  return connection.takeError() != 0 || !live(&connection);
}

std::optional<RRMode> makeMode(Connection& connection, const ModeTimings& t) {
  std::unique_ptr<XRRModeInfo, void (*)(XRRModeInfo*)> info(XRRAllocModeInfo(t.name.c_str(), int(t.name.size())),
                                                            XRRFreeModeInfo);
  if (!info) return std::nullopt;
  info->width = t.width;
  info->height = t.height;
  info->dotClock = t.dotClock;
  info->hSyncStart = t.hSyncStart;
  info->hSyncEnd = t.hSyncEnd;
  info->hTotal = t.hTotal;
  info->hSkew = t.hSkew;
  info->vSyncStart = t.vSyncStart;
  info->vSyncEnd = t.vSyncEnd;
  info->vTotal = t.vTotal;
  info->modeFlags = t.flags;
  const RRMode mode = XRRCreateMode(connection.get(), DefaultRootWindow(connection.get()), info.get());
  if (failed(connection) || mode == None) return std::nullopt;
  return mode;
}

bool offer(Connection& connection, const RandrResources::Output& output, RRMode mode) {
  if (std::find(output.modes.begin(), output.modes.end(), mode) != output.modes.end()) return true;
  XRRAddOutputMode(connection.get(), output.id, mode);
  return !failed(connection);
}

struct CrtcChange {
  const CrtcLayout* target;
  bool wasOn;
  RRMode mode = None;
  std::vector<RROutput> outputs;
};

// Everything the target names, found on this server (or made, for a mode); nothing is changed yet.
std::optional<std::string> plan(Connection& connection, const ScreenLayout& target, const ScreenLayout& current,
                                const RandrResources& resources, std::vector<CrtcChange>& changes) {
  for (const CrtcLayout& crtc : target.crtcs) {
    auto now = std::find_if(current.crtcs.begin(), current.crtcs.end(), [&](auto& c) { return c.id == crtc.id; });
    if (now == current.crtcs.end()) return fmt::format("the screen has no CRTC {:#x}", crtc.id);
    if (sameConfig(crtc, *now)) continue;
    CrtcChange change{&crtc, now->mode.has_value()};
    for (const std::string& name : crtc.outputs) {
      const auto* output = resources.output(name);
      if (!output) return fmt::format("the screen has no output {}", name);
      change.outputs.push_back(output->id);
    }
    changes.push_back(std::move(change));
  }
  for (const MonitorLayout& monitor : target.monitors) {
    for (const std::string& name : monitor.outputs) {
      if (!resources.output(name)) return fmt::format("the screen has no output {} for monitor {}", name, monitor.name);
    }
  }
  if (!target.primaryOutput.empty() && !resources.output(target.primaryOutput)) {
    return fmt::format("the screen has no output {}", target.primaryOutput);
  }
  for (CrtcChange& change : changes) {
    const std::optional<ModeTimings>& mode = change.target->mode;
    if (!mode) continue;
    std::optional<RRMode> id = resources.find(*mode);
    if (!id) id = makeMode(connection, *mode);
    if (!id) return fmt::format("the X server would not make mode {} ({}x{})", mode->name, mode->width, mode->height);
    change.mode = *id;
    for (const std::string& name : change.target->outputs) {
      if (!offer(connection, *resources.output(name), *id)) {
        return fmt::format("output {} cannot show mode {} ({}x{})", name, mode->name, mode->width, mode->height);
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> setCrtc(Connection& connection, const RandrResources& resources, const CrtcChange& change,
                                   const CrtcLayout& now) {
  ::Display* d = connection.get();
  const CrtcLayout& t = *change.target;
  if (t.transform && !sameTransform(t.transform, now.transform)) {
    XTransform matrix;
    for (int i = 0; i < 9; ++i) matrix.matrix[i / 3][i % 3] = t.transform->matrix[i];
    std::vector<XFixed> parameters(t.transform->parameters.begin(), t.transform->parameters.end());
    XRRSetCrtcTransform(d, t.id, &matrix, t.transform->filter.c_str(), parameters.data(), int(parameters.size()));
    if (failed(connection)) return fmt::format("CRTC {:#x} cannot scale", t.id);
  }
  std::vector<RROutput> outputs = change.outputs;
  const Status status = XRRSetCrtcConfig(d, resources.get(), t.id, CurrentTime, t.x, t.y, change.mode, t.rotation,
                                         outputs.data(), int(outputs.size()));
  if (status != RRSetConfigSuccess || failed(connection)) {
    return fmt::format("CRTC {:#x} cannot show {} at {},{}", t.id, t.mode ? t.mode->name : "nothing", t.x, t.y);
  }
  return std::nullopt;
}

std::optional<std::string> setMonitors(Connection& connection, const RandrResources& resources,
                                       const std::vector<MonitorLayout>& target, const std::vector<MonitorLayout>& now) {
  ::Display* d = connection.get();
  const Window root = DefaultRootWindow(d);
  auto within = [](const std::vector<MonitorLayout>& list, const MonitorLayout& m) {
    return std::find(list.begin(), list.end(), m) != list.end();
  };
  for (const MonitorLayout& monitor : now) {
    if (!within(target, monitor)) XRRDeleteMonitor(d, root, XInternAtom(d, monitor.name.c_str(), False));
  }
  for (const MonitorLayout& monitor : target) {
    if (within(now, monitor)) continue;
    std::unique_ptr<XRRMonitorInfo, int (*)(void*)> info(XRRAllocateMonitor(d, int(monitor.outputs.size())), XFree);
    if (!info) return "out of memory";
    info->name = XInternAtom(d, monitor.name.c_str(), False);
    info->primary = monitor.primary;
    info->automatic = False;
    info->x = monitor.x;
    info->y = monitor.y;
    info->width = monitor.width;
    info->height = monitor.height;
    info->mwidth = monitor.widthMm;
    info->mheight = monitor.heightMm;
    for (size_t i = 0; i < monitor.outputs.size(); ++i) info->outputs[i] = resources.output(monitor.outputs[i])->id;
    XRRSetMonitor(d, root, info.get());
  }
  if (failed(connection)) return "the X server refused a monitor";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> applyLayout(Connection& connection, const ScreenLayout& target) {
  ::Display* d = connection.get();
  connection.takeError();
  if (!live(&connection)) return "the connection to the X server is lost";
  ServerGrab grab(connection);
  const std::optional<ScreenLayout> current = readLayout(d);
  std::optional<RandrResources> resources = RandrResources::read(d);
  if (!current || !resources) return "the X server has no RandR 1.5";
  std::vector<CrtcChange> changes;
  if (auto problem = plan(connection, target, *current, *resources, changes)) return problem;
  resources = RandrResources::read(d);  // with the modes just made

  for (const CrtcChange& change : changes) {
    if (!change.wasOn) continue;
    if (XRRSetCrtcConfig(d, resources->get(), change.target->id, CurrentTime, 0, 0, None, kRotateNormal, nullptr, 0) !=
            RRSetConfigSuccess ||
        failed(connection)) {
      return fmt::format("CRTC {:#x} cannot be switched off", change.target->id);
    }
  }
  if (target.width != current->width || target.height != current->height || target.widthMm != current->widthMm ||
      target.heightMm != current->heightMm) {
    XRRSetScreenSize(d, DefaultRootWindow(d), target.width, target.height, target.widthMm, target.heightMm);
    if (failed(connection)) return fmt::format("the screen cannot be {}x{} pixels", target.width, target.height);
  }
  for (const CrtcChange& change : changes) {
    if (!change.target->mode) continue;
    const auto& now = *std::find_if(current->crtcs.begin(), current->crtcs.end(),
                                    [&](auto& c) { return c.id == change.target->id; });
    if (auto problem = setCrtc(connection, *resources, change, now)) return problem;
  }
  if (target.primaryOutput != current->primaryOutput) {
    const auto* primary = resources->output(target.primaryOutput);
    XRRSetOutputPrimary(d, DefaultRootWindow(d), primary ? primary->id : None);
    if (failed(connection)) return fmt::format("output {} cannot be the primary one", target.primaryOutput);
  }
  return setMonitors(connection, *resources, target.monitors, current->monitors);
}

std::optional<std::vector<std::string>> offerMode(Connection& connection, const ModeTimings& mode,
                                                  const std::vector<std::string>& outputs) {
  connection.takeError();
  if (!live(&connection)) return std::nullopt;
  std::optional<RandrResources> resources = RandrResources::read(connection.get());
  if (!resources) return std::nullopt;
  std::optional<RRMode> id = resources->find(mode);
  if (!id) id = makeMode(connection, mode);
  if (!id) return std::nullopt;
  std::vector<std::string> refusing;
  for (const std::string& name : outputs) {
    const auto* output = resources->output(name);
    if (!output || !offer(connection, *output, *id)) refusing.push_back(name);
  }
  return refusing;
}

void removeUnusedModes(Connection& connection, std::string_view prefix) {
  ::Display* d = connection.get();
  connection.takeError();
  if (!live(&connection)) return;
  std::optional<RandrResources> resources = RandrResources::read(d);
  if (!resources) return;
  std::set<RRMode> shown;
  XRRScreenResources* raw = resources->get();
  for (int i = 0; i < raw->ncrtc; ++i) {
    if (XRRCrtcInfo* info = XRRGetCrtcInfo(d, raw, raw->crtcs[i])) {
      shown.insert(info->mode);
      XRRFreeCrtcInfo(info);
    }
  }
  for (int i = 0; i < raw->nmode; ++i) {
    const XRRModeInfo& mode = raw->modes[i];
    if (!std::string_view(mode.name, mode.nameLength).starts_with(prefix) || shown.count(mode.id)) continue;
    for (const auto& output : resources->outputs()) {
      if (std::find(output.modes.begin(), output.modes.end(), mode.id) != output.modes.end()) {
        XRRDeleteOutputMode(d, output.id, mode.id);
      }
    }
    XRRDestroyMode(d, mode.id);
  }
  failed(connection);  // a mode another client took meanwhile stays: harmless
}

}  // namespace vistaro::x11
