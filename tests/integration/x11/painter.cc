#include "capture_fixture.h"

// After gtest: Xlib defines None and Bool as macros.
#include <X11/Xlib.h>

#include <stdexcept>

#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

// Survives the server being killed under it, like the capturer's own connections.
struct Painter::Impl {
  std::unique_ptr<Connection> connection;
  ::Display* display = nullptr;
};

Painter::Painter(const std::string& display) : impl_(std::make_unique<Impl>()) {
  impl_->connection = Connection::open(display);
  if (!impl_->connection) throw std::runtime_error("painter cannot open " + display);
  impl_->display = impl_->connection->get();
}

Painter::~Painter() = default;

void Painter::fill(const Rect& area, Color color) {
  ::Display* d = impl_->display;
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = (unsigned long)color.r << 16 | (unsigned long)color.g << 8 | color.b;
  Window window = XCreateWindow(d, DefaultRootWindow(d), int(area.x), int(area.y), unsigned(area.width),
                                unsigned(area.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                                CWOverrideRedirect | CWBackPixel, &attributes);
  XMapRaised(d, window);
  XSync(d, False);
}

void Painter::movePointer(int rootX, int rootY) {
  XWarpPointer(impl_->display, None, DefaultRootWindow(impl_->display), 0, 0, 0, 0, rootX, rootY);
  XSync(impl_->display, False);
}

}  // namespace vistaro::x11
