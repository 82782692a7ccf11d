// The capturer on the real X11 source against a private Xvfb, while a client of the session
// of our own draws windows and moves the pointer. A server that dies is the host's test, in
// tests/integration/app.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>

#include "capture/screen_capturer.h"
#include "core/asio_executor.h"
#include "platform/x11/x11_capture_source.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_monitors.h"
#include "support/threads.h"
#include "support/xvfb_server.h"

// Last: Xlib defines None, Bool and True as macros.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace vistaro::x11 {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t gray = 0x5a5a5a, red = 0xff0000, black = 0;

uint32_t pixelAt(const CapturedFrame& frame, int x, int y) {  // 0xRRGGBB
  uint32_t bgra;
  std::memcpy(&bgra, frame.pixels->row(y) + x * 4, 4);
  return bgra & 0xffffff;
}
// Known changes that reach every pixel of the area.
bool covers(const DirtyRegion& changes, const Rect& area) {
  for (double y = area.y; y < area.maxY(); ++y)
    for (double x = area.x; x < area.maxX(); ++x) {
      const auto inside = [&](const Rect& r) { return r.intersects({x + 0.25, y + 0.25, 0.5, 0.5}); };
      if (!changes.known() || std::ranges::none_of(changes.rects(), inside)) return false;
    }
  return true;
}

class X11CaptureTest : public ::testing::Test {
 protected:
  X11CaptureTest() {
    capturer.onFrame = [this](CapturedFrame frame) { frames.put(std::move(frame)); };
    capturer.onStop = [this](std::optional<CaptureError> error) { stops.put(std::move(error)); };
  }
  ~X11CaptureTest() override { run(capturer.stop()); }

  std::optional<CaptureError> run(ScreenCapturer::Operation operation) {
    main.post([&] { capturer.enqueue(operation, [this](auto error) { results.put(error); }); });
    const auto result = results.take().value();
    testing::runOn(main, [] {});  // the chain's own steps after the result are over too
    return result;
  }
  // Starts and waits for the screen to settle; the last frame.
  CapturedFrame startAndSettle(DisplayID id = 0) {
    EXPECT_EQ(run(capturer.start(id)), std::nullopt);
    auto last = frames.take();
    while (auto next = frames.take(300ms)) last = std::move(next);
    return last.value();
  }
  // A window the window manager (if any) leaves alone.
  void fill(const Rect& area, uint32_t rgb) {
    XSetWindowAttributes attributes{.background_pixel = rgb, .override_redirect = True};
    XMapRaised(display, XCreateWindow(display, DefaultRootWindow(display), int(area.x), int(area.y),
                                      unsigned(area.width), unsigned(area.height), 0, CopyFromParent, InputOutput,
                                      CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes));
    XSync(display, False);
  }
  void movePointer(int x, int y) {
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, x, y);
    XSync(display, False);
  }

  testing::XvfbServer server{1920, 1080};
  std::unique_ptr<Connection> painter = Connection::open(server.name());
  ::Display* display = painter->get();
  AsioExecutor main{"test-main"}, capture{"test-capture"};
  X11CaptureSource source{main, capture, server.name()};
  ScreenCapturer capturer{main, source};
  testing::Mailbox<CapturedFrame> frames;
  testing::Mailbox<std::optional<CaptureError>> stops, results;
};

TEST_F(X11CaptureTest, TheMonitorsOfASplitScreenAreDisplaysWhoseFramesCoverWhatIsDrawnOnThem) {
  // "left" 800 × 1080 at the origin and the primary "right" 1120 × 900 at (800, 100), at 192 dpi.
  ASSERT_EQ(server.run({"sh", "-c", "xrandr --setmonitor left 800/211x1080/286+0+0 screen && echo Xft.dpi: 192 | "
                        "xrdb -merge && xrandr --setmonitor '*right' 1120/296x900/238+800+100 none"}), 0);
  movePointer(10, 10);  // out of the right display, out of its picture
  const auto first = startAndSettle(monitorID("right"));
  EXPECT_EQ(std::tuple(first.display, first.pointScale, first.pixels->width(), first.pixels->height()),
            std::tuple(monitorID("right"), 2.0, 1120, 900));
  fill({1000, 300, 100, 80}, red);
  const Rect drawn{200, 200, 100, 80};  // the same area in the right display's pixels
  auto frame = frames.takeUntil([&](auto& f) { return covers(f.changes, drawn) && pixelAt(f, 250, 240) == red; });
  ASSERT_TRUE(frame) << "no frame showed the drawing with changes around it";
  EXPECT_EQ(std::tuple(pixelAt(*frame, 199, 200), pixelAt(*frame, 200, 200), pixelAt(*frame, 299, 279)),
            std::tuple(pixelAt(first, 199, 200), red, red));

  ASSERT_EQ(server.run({"xrandr", "--delmonitor", "right"}), 0);
  EXPECT_EQ(stops.take(), std::optional(std::optional(CaptureError::platform("ディスプレイの構成が変わりました"))));
}

TEST_F(X11CaptureTest, PointerMotionAloneYieldsAFrameAndIdlenessNone) {
  fill({0, 0, 1920, 1080}, gray);
  movePointer(300, 300);  // the server's own pointer: a black X of 16 × 16 outlined in white, hot spot in the middle
  const auto before = startAndSettle();
  EXPECT_EQ(std::pair(pixelAt(before, 300, 300), pixelAt(before, 700, 500)), std::pair(black, gray))
      << "the pointer is drawn into the frame";
  EXPECT_FALSE(frames.take(800ms)) << "nothing changed";

  movePointer(700, 500);
  auto moved = frames.takeUntil([](const CapturedFrame& f) {
    return covers(f.changes, {294, 294, 12, 12}) && covers(f.changes, {694, 494, 12, 12});
  });
  ASSERT_TRUE(moved) << "moving the pointer must repaint its old and new places";
  EXPECT_EQ(std::pair(pixelAt(*moved, 300, 300), pixelAt(*moved, 700, 500)), std::pair(gray, black));
}

TEST_F(X11CaptureTest, AConsumerHoldingEveryBufferPausesFramesWithoutLosingChanges) {
  startAndSettle();
  std::vector<CapturedFrame> held;  // as a stuck consumer would, until no frame comes
  for (int i = 0; i < 8 && held.size() == size_t(i); ++i) {
    fill({i * 20.0, 0, 10, 10}, red);
    if (auto frame = frames.take(1s)) held.push_back(std::move(*frame));
  }
  EXPECT_EQ(held.size(), 5u) << "the pool holds five buffers";
  // A staircase of small windows that the server cannot merge: more changes than a region keeps apart.
  for (int i = 0; i < 150; ++i) fill({i * 12.0, 200 + i * 5.0, 4, 4}, red);
  EXPECT_FALSE(frames.take(300ms));
  held.clear();
  const auto resumed = frames.take();
  ASSERT_TRUE(resumed);
  for (int i = 0; i < 150; ++i) EXPECT_TRUE(covers(resumed->changes, {i * 12.0, 200 + i * 5.0, 4, 4})) << "lost " << i;
  EXPECT_EQ(pixelAt(*resumed, 12 * 149 + 1, 200 + 5 * 149 + 1), red);
}

// Frames are pieced together from what changed and the frames before, in whichever buffer comes
// free: each must still equal the screen, row for row, away from the pointer drawn into it.
TEST_F(X11CaptureTest, EveryFrameShowsTheWholeScreenHoweverLittleWasGrabbedForIt) {
  fill({0, 0, 1920, 1080}, gray);
  startAndSettle();
  std::deque<CapturedFrame> kept;  // a consumer a few frames behind rotates the buffers out of order
  for (int step = 0; step < 24; ++step) {
    const Rect area{double(97 * step % 1800), double(53 * step % 1000), 3.0 + step % 40, 5.0 + step % 7};
    if (step % 3 == 0) movePointer(200 + 61 * step % 1500, 100 + 37 * step % 900);  // seen with the fill
    fill(area, 0x10203 * (step + 1) & 0xffffff);
    auto frame = frames.takeUntil([&](const CapturedFrame& f) { return covers(f.changes, area); });
    ASSERT_TRUE(frame) << step;
    XImage* screen = XGetImage(display, DefaultRootWindow(display), 0, 0, 1920, 1080, AllPlanes, ZPixmap);
    ASSERT_TRUE(screen);
    Window root, child;
    int rootX = 0, rootY = 0, winX, winY;
    unsigned mask;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &winX, &winY, &mask);
    for (int y = 0; y < 1080; ++y) {
      const uint8_t* got = frame->pixels->row(y);
      const uint8_t* want = reinterpret_cast<uint8_t*>(screen->data) + size_t(y) * screen->bytes_per_line;
      for (int x = 0; x < 1920; ++x) {
        if (std::abs(x - rootX) < 24 && std::abs(y - rootY) < 24) continue;
        if (std::memcmp(got + x * 4, want + x * 4, 3) != 0) {
          XDestroyImage(screen);
          FAIL() << "step " << step << ": pixel " << x << "," << y << " is not the screen's";
        }
      }
    }
    XDestroyImage(screen);
    kept.push_back(std::move(*frame));
    if (kept.size() > size_t(1 + step % 3)) kept.pop_front();
  }
}

}  // namespace
}  // namespace vistaro::x11
