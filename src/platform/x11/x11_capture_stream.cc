#include "platform/x11/x11_capture_stream.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/XShm.h>

#include <algorithm>
#include <utility>

#include "core/l10n.h"
#include "platform/x11/session_scale.h"
#include "platform/x11/x11_monitors.h"

namespace vistaro::x11 {
namespace {

constexpr int bufferDepth = 5;

CaptureError reconfigured() { return CaptureError::platform(localized("ディスプレイの構成が変わりました")); }
CaptureError grabFailed() { return CaptureError::platform(localized("画面を取り込めませんでした")); }

}  // namespace

std::variant<std::unique_ptr<CaptureStream>, CaptureError> CaptureStream::open(
    std::unique_ptr<Connection> connection, DisplayID id, CaptureSource::FrameSink frames) {
  if (!connection) return CaptureError::noPermission();
  auto monitors = listMonitors(connection->get());
  auto found = std::find_if(monitors.begin(), monitors.end(), [&](const Monitor& m) { return m.id == id; });
  if (found == monitors.end()) return CaptureError::noDisplay();
  const double scale = sessionPointScale(connection->get());
  std::unique_ptr<CaptureStream> stream(
      new CaptureStream(std::move(connection), id, found->bounds, scale, std::move(frames)));
  if (auto error = stream->setUp()) return *error;
  return stream;
}

CaptureStream::CaptureStream(std::unique_ptr<Connection> connection, DisplayID id, Rect monitor, double pointScale,
                             CaptureSource::FrameSink frames)
    : connection_(std::move(connection)),
      id_(id),
      monitor_(monitor),
      pointScale_(pointScale),
      width_(int(monitor.width)),
      height_(int(monitor.height)),
      frames_(std::move(frames)) {}

std::optional<CaptureError> CaptureStream::setUp() {
  ::Display* display = connection_->get();
  int errorBase = 0, major = 0, minor = 0;
  if (!XDamageQueryExtension(display, &damageEventBase_, &errorBase) ||
      !XDamageQueryVersion(display, &major, &minor) || !XFixesQueryExtension(display, &fixesEventBase_, &errorBase) ||
      !XFixesQueryVersion(display, &major, &minor) || major < 2) {
    return CaptureError::platform(localized("X サーバーに DAMAGE または XFIXES 拡張がありません"));
  }
  pool_ = ShmFramePool::create(*connection_, width_, height_, bufferDepth);
  if (!pool_) return CaptureError::platform(localized("X サーバーと共有メモリで画面を受け渡せません"));
  Window root = DefaultRootWindow(display);
  damage_ = XDamageCreate(display, root, XDamageReportNonEmpty);
  XFixesSelectCursorInput(display, root, XFixesDisplayCursorNotifyMask);
  XSync(display, False);
  if (connection_->broken()) return CaptureError::displayLost();
  if (connection_->takeError() != 0) return grabFailed();
  return std::nullopt;
}

CaptureStream::~CaptureStream() {
  if (!connection_->broken() && damage_) XDamageDestroy(connection_->get(), damage_);
  pool_.reset();
}

int CaptureStream::descriptor() const { return ConnectionNumber(connection_->get()); }

void CaptureStream::readEvents() {
  ::Display* display = connection_->get();
  while (!connection_->broken() && XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == damageEventBase_ + XDamageNotify) damaged_ = true;
    if (event.type == fixesEventBase_ + XFixesCursorNotify) cursorChanged_ = true;
  }
}

void CaptureStream::addDirty(const Rect& rect) {
  if (!rect.isEmpty()) dirty_.add(DirtyRegion::of({rect}));
}

void CaptureStream::collectDamage() {
  ::Display* display = connection_->get();
  XserverRegion region = XFixesCreateRegion(display, nullptr, 0);
  // Taking the damage away re-arms the NonEmpty notification for the next change.
  XDamageSubtract(display, damage_, None, region);
  int count = 0;
  XRectangle* rects = XFixesFetchRegion(display, region, &count);
  std::vector<Rect> damaged;
  for (int i = 0; i < count; ++i) {
    Rect root{double(rects[i].x), double(rects[i].y), double(rects[i].width), double(rects[i].height)};
    auto inside = root.intersection(monitor_);
    if (inside && !inside->isEmpty()) damaged.push_back({inside->x - monitor_.x, inside->y - monitor_.y, inside->width, inside->height});
  }
  dirty_.add(DirtyRegion::of(std::move(damaged)));
  if (rects) XFree(rects);
  XFixesDestroyRegion(display, region);
  damaged_ = false;
}

bool CaptureStream::fetchCursor() {
  XFixesCursorImage* image = XFixesGetCursorImage(connection_->get());
  cursorChanged_ = false;
  if (!image) return false;
  CursorImage fetched{image->width, image->height, image->xhot, image->yhot, {}};
  // Xlib hands ARGB out in longs, 64 bits wide here.
  fetched.argb.assign(image->pixels, image->pixels + size_t(image->width) * image->height);
  XFree(image);
  if (fetched == cursor_) return false;
  cursor_ = std::move(fetched);
  return true;
}

bool CaptureStream::monitorUnchanged() {
  if (--ticksUntilMonitorCheck_ > 0) return true;
  ticksUntilMonitorCheck_ = ticksPerMonitorCheck;
  auto monitors = listMonitors(connection_->get());
  return std::any_of(monitors.begin(), monitors.end(),
                     [&](const Monitor& m) { return m.id == id_ && m.bounds == monitor_; });
}

std::optional<CaptureError> CaptureStream::tick() {
  ::Display* display = connection_->get();
  // A moved, resized or removed monitor ends the stream; its owner starts a new one on
  // what is there now.
  if (!monitorUnchanged()) return connection_->broken() ? CaptureError::displayLost() : reconfigured();
  readEvents();
  if (damaged_) collectDamage();
  bool newShape = cursorChanged_ && fetchCursor();

  Window root = DefaultRootWindow(display), child = 0, rootReturn = 0;
  int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
  unsigned int mask = 0;
  bool onScreen = XQueryPointer(display, root, &rootReturn, &child, &rootX, &rootY, &windowX, &windowY, &mask);
  if (connection_->broken()) return CaptureError::displayLost();
  int cursorX = rootX - int(monitor_.x), cursorY = rootY - int(monitor_.y);
  Rect pointerArea = onScreen ? x11::cursorArea(cursor_, cursorX, cursorY, width_, height_) : Rect{};
  if (pointerArea != cursorArea_ || newShape) {
    // The client must repaint where the pointer was as well as where it is.
    addDirty(cursorArea_);
    addDirty(pointerArea);
  }
  if (dirty_.empty()) return std::nullopt;

  auto lease = pool_->acquire();
  if (!lease) return std::nullopt;  // everything still held downstream: try again next tick
  bool grabbed = XShmGetImage(display, root, lease->image, int(monitor_.x), int(monitor_.y), AllPlanes);
  if (connection_->broken()) return CaptureError::displayLost();
  if (!grabbed || connection_->takeError() != 0) return grabFailed();
  if (onScreen) drawCursor(*lease->pixels, cursor_, cursorX, cursorY);
  cursorArea_ = pointerArea;

  CapturedFrame frame{std::move(lease->pixels), id_, pointScale_, std::exchange(dirty_, DirtyRegion::none())};
  ++framesDelivered_;
  if (frames_) frames_(std::move(frame));
  return std::nullopt;
}

}  // namespace vistaro::x11
