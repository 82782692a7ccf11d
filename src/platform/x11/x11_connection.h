#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/x11/xlib_fwd.h"

namespace vistaro::x11 {

// One Xlib connection, used from one thread. Xlib's defaults end the process on any error
// (protocol errors and a lost server alike); a Connection turns both into state that its
// user checks: errors are counted and a lost server marks the connection broken.
class Connection {
 public:
  // Empty name: $DISPLAY. Null when the display cannot be opened.
  static std::unique_ptr<Connection> open(const std::string& name);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  ::Display* get() const { return display_; }
  bool broken() const { return broken_.load(); }

  // The error code of the first protocol error since the last call (0 = none).
  int takeError();

 private:
  explicit Connection(::Display* display);
  static void installHandlersOnce();
  static int onProtocolError(::Display* display, void* event);
  static void onConnectionLost(::Display* display, void* self);

  ::Display* display_;
  std::atomic<bool> broken_{false};
  int firstError_ = 0;
};

// Xlib may be called on it: open, and its server not lost. A lost connection must not be
// touched again: Xlib goes on queuing requests it cannot send until its buffer overflows
// (a crash), and the thread that saw the loss keeps the display's lock for good.
inline bool live(const Connection* connection) { return connection && !connection->broken(); }

// The server offers XTest, through which the host injects pointer and key events.
bool offersXTest(const Connection* connection);

}  // namespace vistaro::x11
