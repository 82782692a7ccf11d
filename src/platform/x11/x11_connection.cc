#include "platform/x11/x11_connection.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <map>
#include <mutex>
#include <utility>

#include "core/log.h"

namespace vistaro::x11 {
namespace {

// Xlib's error handler is process-wide; it finds the connection an error belongs to here.
std::mutex registryMutex;
std::map<::Display*, Connection*>& registry() {
  static std::map<::Display*, Connection*> connections;
  return connections;
}

}  // namespace

// Both handlers are process-wide; this is the only place in the host that sets them.
void Connection::installHandlersOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    XSetErrorHandler([](::Display* display, XErrorEvent* event) { return onProtocolError(display, event); });
    // Only says what happened; the per-connection exit handler decides that we live on.
    XSetIOErrorHandler([](::Display* display) {
      logWarning("x11", "lost the connection to X server {}", DisplayString(display));
      return 0;
    });
  });
}

int Connection::onProtocolError(::Display* display, void* rawEvent) {
  auto* event = static_cast<XErrorEvent*>(rawEvent);
  std::lock_guard lock(registryMutex);
  auto found = registry().find(display);
  if (found == registry().end()) {
    char text[128] = {};
    XGetErrorText(display, event->error_code, text, sizeof text);
    logWarning("x11", "X error {} (request {}.{}, resource {:#x})", text, event->request_code, event->minor_code,
               event->resourceid);
  } else if (found->second->firstError_ == 0) {
    found->second->firstError_ = event->error_code;
  }
  return 0;
}

void Connection::onConnectionLost(::Display*, void* self) { static_cast<Connection*>(self)->broken_ = true; }

std::unique_ptr<Connection> Connection::open(const std::string& name) {
  installHandlersOnce();
  ::Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
  if (!display) return nullptr;
  return std::unique_ptr<Connection>(new Connection(display));
}

Connection::Connection(::Display* display) : display_(display) {
  XSetIOErrorExitHandler(display_, &Connection::onConnectionLost, this);
  std::lock_guard lock(registryMutex);
  registry()[display_] = this;
}

Connection::~Connection() {
  {
    std::lock_guard lock(registryMutex);
    registry().erase(display_);
  }
  // After a lost server Xlib may still hold the display's lock from the failed call;
  // closing would wait for it forever. The little memory is the cheaper loss.
  if (!broken_) XCloseDisplay(display_);
}

int Connection::takeError() {
  std::lock_guard lock(registryMutex);
  return std::exchange(firstError_, 0);
}

bool offersXTest(const Connection* connection) {
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  return live(connection) && XTestQueryExtension(connection->get(), &eventBase, &errorBase, &major, &minor);
}

}  // namespace vistaro::x11
