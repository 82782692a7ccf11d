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

namespace vistaro::x11 {

void Painter::useHalfBlackCursor(int variant) {
  ::Display* d = impl_->display;
  Window root = DefaultRootWindow(d);
  unsigned char shape[32], mask[32];
  for (int row = 0; row < 16; ++row) {
    shape[row * 2] = variant == 0 ? 0xff : 0x00;  // bit set = foreground (black)
    shape[row * 2 + 1] = variant == 0 ? 0x00 : 0xff;
    mask[row * 2] = mask[row * 2 + 1] = 0xff;
  }
  Pixmap source = XCreateBitmapFromData(d, root, reinterpret_cast<char*>(shape), 16, 16);
  Pixmap opaque = XCreateBitmapFromData(d, root, reinterpret_cast<char*>(mask), 16, 16);
  XColor black{}, white{};
  white.red = white.green = white.blue = 0xffff;
  XDefineCursor(d, root, XCreatePixmapCursor(d, source, opaque, &black, &white, 8, 8));
  XFreePixmap(d, source);
  XFreePixmap(d, opaque);
  XSync(d, False);
}

}  // namespace vistaro::x11
