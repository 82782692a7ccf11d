#include "platform/x11/x11_physical_input.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>

#include "core/log.h"

namespace vistaro::x11 {

std::set<int> injectingDevices(::Display* display) {
  std::set<int> ids;
  int count = 0;
  XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
  for (int i = 0; i < count; ++i) {
    const XIDeviceInfo& device = devices[i];
    const bool slave = device.use == XISlavePointer || device.use == XISlaveKeyboard || device.use == XIFloatingSlave;
    if (slave && device.name && std::strstr(device.name, "XTEST")) ids.insert(device.deviceid);
  }
  if (devices) XIFreeDeviceInfo(devices);
  return ids;
}

bool X11PhysicalInput::listen() {
  connection_ = Connection::open(displayName_);
  if (!live(connection_.get())) return false;
  ::Display* d = connection_->get();
  int event = 0, error = 0, major = 2, minor = 2;
  if (!XQueryExtension(d, "XInputExtension", &opcode_, &event, &error) || XIQueryVersion(d, &major, &minor) != Success) {
    logWarning("power", "the X server has no XInput 2: a touch at the computer could not end power saving");
    return false;
  }
  unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
  for (int type : {XI_RawKeyPress, XI_RawButtonPress, XI_RawMotion, XI_RawTouchBegin}) XISetMask(mask, type);
  XIEventMask raw{XIAllMasterDevices, sizeof mask, mask};
  unsigned char hierarchyMask[XIMaskLen(XI_HierarchyChanged)] = {};
  XISetMask(hierarchyMask, XI_HierarchyChanged);
  XIEventMask hierarchy{XIAllDevices, sizeof hierarchyMask, hierarchyMask};
  XIEventMask masks[] = {raw, hierarchy};
  XISelectEvents(d, DefaultRootWindow(d), masks, 2);
  injecting_ = injectingDevices(d);
  XSync(d, False);
  return connection_->takeError() == 0;
}

bool X11PhysicalInput::install(std::function<void()> touched) {
  remove();
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0 || !listen()) {
    remove();
    return false;
  }
  reports_ = std::make_shared<Reports>();
  reports_->touched = std::move(touched);
  thread_ = std::thread([this, reports = std::weak_ptr(reports_)] { run(reports); });
  return true;
}

void X11PhysicalInput::remove() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
    thread_.join();
  }
  if (wakeFd_ >= 0) close(wakeFd_);
  wakeFd_ = -1;
  reports_.reset();  // a report still on its way finds nobody to tell
  connection_.reset();
}

bool X11PhysicalInput::physical(const void* rawEvent) const {
  const auto* raw = static_cast<const XIRawEvent*>(rawEvent);
  const int source = raw->sourceid != 0 ? raw->sourceid : raw->deviceid;
  return !injecting_.count(source);
}

void X11PhysicalInput::run(std::weak_ptr<Reports> reports) {
  for (;;) {
    const bool listening = live(connection_.get());
    if (listening) readEvents(reports);
    // A lost server leaves its socket readable for good: then the wait is for the wake-up, or for
    // the time to listen to a server that came back (a restarted session) again.
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {listening ? ConnectionNumber(connection_->get()) : -1, POLLIN, 0}};
    poll(fds, 2, listening ? -1 : static_cast<int>(kRelisten.count()));
    if (fds[0].revents & POLLIN) return;
    if (!listening) listen();
  }
}

void X11PhysicalInput::readEvents(const std::weak_ptr<Reports>& reports) {
  ::Display* d = connection_->get();
  while (!connection_->broken() && XPending(d)) {
    XEvent event;
    XNextEvent(d, &event);
    XGenericEventCookie* cookie = &event.xcookie;
    if (cookie->type != GenericEvent || cookie->extension != opcode_ || !XGetEventData(d, cookie)) continue;
    if (cookie->evtype == XI_HierarchyChanged) {
      injecting_ = injectingDevices(d);
    } else if (physical(cookie->data)) {
      if (auto shared = reports.lock(); shared && !shared->pending.exchange(true)) {
        main_.post([reports] {
          auto shared = reports.lock();
          if (!shared) return;
          shared->pending = false;
          shared->touched();
        });
      }
    }
    XFreeEventData(d, cookie);
  }
}

}  // namespace vistaro::x11
