#include "platform/x11/x11_capture_stream.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/XShm.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "core/l10n.h"
#include "platform/x11/grab_bands.h"
#include "platform/x11/session_scale.h"
#include "platform/x11/x11_monitors.h"

namespace vistaro::x11 {
namespace {

constexpr int bufferDepth = 5;
constexpr size_t kFramesRemembered = 2 * bufferDepth;
// Past this share of the monitor's rows, one grab of everything costs the server no more.
constexpr double kWholeGrabAbove = 0.6;

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
  bool grabbed = grabInto(*lease, pointerArea);
  if (connection_->broken()) return CaptureError::displayLost();
  if (!grabbed || connection_->takeError() != 0) return grabFailed();
  if (onScreen) drawCursor(*lease->pixels, cursor_, cursorX, cursorY);
  cursorArea_ = pointerArea;

  *lease->holdsFrame = ++framesDelivered_;
  delivered_.push_back({framesDelivered_, dirty_, pointerArea});
  if (delivered_.size() > kFramesRemembered) delivered_.pop_front();
  newest_ = lease->pixels;
  CapturedFrame frame{std::move(lease->pixels), id_, pointScale_, std::exchange(dirty_, DirtyRegion::none())};
  if (frames_) frames_(std::move(frame));
  return std::nullopt;
}

bool CaptureStream::grabWhole(const ShmFramePool::Lease& lease) {
  return XShmGetImage(connection_->get(), DefaultRootWindow(connection_->get()), lease.image, int(monitor_.x),
                      int(monitor_.y), AllPlanes);
}

namespace {

// Whole pixels covering the rectangle.
Rect integral(const Rect& r) {
  const double x0 = std::floor(r.minX()), y0 = std::floor(r.minY());
  return {x0, y0, std::ceil(r.maxX()) - x0, std::ceil(r.maxY()) - y0};
}

}  // namespace

bool CaptureStream::grabInto(const ShmFramePool::Lease& lease, const Rect& pointerArea) {
  const uint64_t holds = *lease.holdsFrame;
  auto past = std::find_if(delivered_.begin(), delivered_.end(), [&](const Delivered& d) { return d.number == holds; });
  if (holds == 0 || past == delivered_.end() || !newest_ || !dirty_.known()) return grabWhole(lease);
  // The buffer's own pointer, the newest frame's and this one's are drawn-in pixels, not the screen's.
  std::vector<Rect> fresh = dirty_.rects();
  for (const Rect& cursor : {past->cursor, delivered_.back().cursor, pointerArea}) fresh.push_back(cursor);
  std::vector<Rect> copied;
  for (auto later = std::next(past); later != delivered_.end(); ++later) {
    if (!later->changes.known()) return grabWhole(lease);
    copied.insert(copied.end(), later->changes.rects().begin(), later->changes.rects().end());
  }
  // Small areas are fetched as they are; what is left, as whole rows.
  std::vector<Rect> small, large;
  const Rect frame{0, 0, double(width_), double(height_)};
  for (const Rect& rect : mergeRects(std::move(fresh))) {
    const auto clipped = rect.intersection(frame);
    if (!clipped || clipped->isEmpty()) continue;
    const Rect whole = integral(*clipped);
    (whole.area() <= ShmFramePool::kLargestRectPixels ? small : large).push_back(whole);
  }
  const auto bands = rowBandsCovering(large, height_);
  int rows = 0;
  for (const RowBand& band : bands) rows += band.rows;
  if (rows > kWholeGrabAbove * height_) return grabWhole(lease);

  PixelBuffer& target = *lease.pixels;
  for (const RowBand& band : rowBandsCovering(copied, height_, 0)) {
    for (int y = band.first; y < band.first + band.rows; ++y)
      std::memcpy(target.mutableRow(y), newest_->row(y), size_t(width_) * 4);
  }
  Window root = DefaultRootWindow(connection_->get());
  for (const RowBand& band : bands) {
    if (!pool_->grabRows(lease, root, int(monitor_.x), int(monitor_.y), band.first, band.rows)) return false;
  }
  for (const Rect& r : small) {
    if (!pool_->grabRect(lease, root, int(monitor_.x), int(monitor_.y), int(r.x), int(r.y), int(r.width),
                         int(r.height)))
      return false;
  }
  return true;
}

}  // namespace vistaro::x11
