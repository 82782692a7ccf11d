#include "platform/x11/x11_desktop_switches.h"

#include <unistd.h>

#include <asio/posix/stream_descriptor.hpp>

#include "core/asio_executor.h"
#include "platform/x11/reconnect_pacer.h"
#include "platform/x11/window_properties.h"
#include "platform/x11/x11_connection.h"

// Last: Xlib's macros (None, Bool, Status) break asio's headers.
#include <X11/Xlib.h>

namespace vistaro::x11 {

struct X11DesktopSwitches::Watch {
  std::unique_ptr<Connection> connection;
  asio::posix::stream_descriptor serverWrote;  // our own descriptor: asio closes it, Xlib keeps its own
};

X11DesktopSwitches::X11DesktopSwitches(Executor& main, std::string displayName)
    : main_(main), displayName_(std::move(displayName)) {}

X11DesktopSwitches::~X11DesktopSwitches() = default;

void X11DesktopSwitches::observe(std::function<void()> switched) {
  main_.post(guard_.wrap([this, switched = std::move(switched)]() mutable {
    switched_ = std::move(switched);
    if (!watch_) start();
  }));
}

void X11DesktopSwitches::start() {
  auto* loop = dynamic_cast<AsioExecutor*>(&main_);
  if (!loop) return;
  auto connection = Connection::open(displayName_);
  if (!live(connection.get())) {
    retry_.schedule(main_, ReconnectPacer::kInterval, guard_.wrap([this] { start(); }));
    return;
  }
  ::Display* d = connection->get();
  XSelectInput(d, DefaultRootWindow(d), PropertyChangeMask);
  if (auto now = currentDesktop(d)) current_ = now;
  const int descriptor = ::dup(ConnectionNumber(d));
  watch_.reset(new Watch{std::move(connection), asio::posix::stream_descriptor(loop->context(), descriptor)});
  readEvents();  // what came with the first reply
}

void X11DesktopSwitches::await() {
  watch_->serverWrote.async_wait(asio::posix::stream_descriptor::wait_read, guard_.wrap([this](std::error_code error) {
    if (!error && watch_) readEvents();
  }));
}

void X11DesktopSwitches::readEvents() {
  ::Display* d = watch_->connection->get();
  const Atom property = XInternAtom(d, "_NET_CURRENT_DESKTOP", False);
  bool changed = true;
  // Reading the desktop may queue further events: drain until a pass brings no change.
  while (changed && !watch_->connection->broken()) {
    changed = false;
    while (!watch_->connection->broken() && XPending(d)) {
      XEvent event;
      XNextEvent(d, &event);
      changed = changed || (event.type == PropertyNotify && event.xproperty.atom == property);
    }
    if (!changed || watch_->connection->broken()) break;
    // A window manager that goes names no desktop, and the first one to name a desktop switched
    // nothing: only a different desktop than the last one named shows other windows.
    const auto now = currentDesktop(d);
    if (!now || now == current_) continue;
    const bool first = !current_;
    current_ = now;
    if (!first && switched_) switched_();
  }
  if (watch_->connection->broken()) {
    watch_.reset();
    retry_.schedule(main_, ReconnectPacer::kInterval, guard_.wrap([this] { start(); }));
    return;
  }
  await();
}

}  // namespace vistaro::x11
