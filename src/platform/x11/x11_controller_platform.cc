#include "platform/x11/x11_controller_platform.h"

#include "core/log.h"
#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

X11ControllerPlatform::X11ControllerPlatform(Executor& main, std::string displayName)
    : main_(main), displayName_(std::move(displayName)) {}

X11ControllerPlatform::~X11ControllerPlatform() { poll_.cancel(); }

bool X11ControllerPlatform::hasScreenCapturePermission() { return Connection::open(displayName_) != nullptr; }

bool X11ControllerPlatform::isInputTrusted() {
  return offersXTest(Connection::open(displayName_).get());
}

void X11ControllerPlatform::promptForInputPermission() {
  logWarning("input", "the X server offers no XTest extension: clicks and keys from clients cannot be injected");
}

std::vector<Monitor> X11ControllerPlatform::monitors() {
  auto connection = Connection::open(displayName_);
  if (!connection) return {};
  return listMonitors(connection->get());
}

std::optional<DisplayID> X11ControllerPlatform::mainDisplayID() {
  const std::vector<Monitor> list = monitors();
  for (const Monitor& monitor : list) {
    if (monitor.primary) return monitor.id;
  }
  if (list.empty()) return std::nullopt;
  return list.front().id;
}

void X11ControllerPlatform::observeScreenChanges(std::function<void()> changed) {
  screensChanged_ = std::move(changed);
  lastMonitors_ = monitors();
  poll_ = main_.postAfter(kScreenPollInterval, [this] { pollScreens(); });
}

// A poll of the monitor list is one round trip every two seconds; it sees every way
// the layout changes (xrandr modes, --setmonitor, hotplug) without an event thread.
void X11ControllerPlatform::pollScreens() {
  std::vector<Monitor> now = monitors();
  const bool differs =
      now.size() != lastMonitors_.size() ||
      !std::equal(now.begin(), now.end(), lastMonitors_.begin(), [](const Monitor& a, const Monitor& b) {
        return a.id == b.id && a.bounds == b.bounds && a.primary == b.primary;
      });
  lastMonitors_ = std::move(now);
  if (differs && screensChanged_) screensChanged_();
  poll_ = main_.postAfter(kScreenPollInterval, [this] { pollScreens(); });
}

}  // namespace vistaro::x11
