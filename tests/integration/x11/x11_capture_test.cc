// The capturer on the real X11 source against a private Xvfb, while a client of the session
// of our own draws windows and moves the pointer.
#include <gtest/gtest.h>

#include <cstring>

#include "capture/screen_capturer.h"
#include "core/asio_executor.h"
#include "platform/x11/x11_capture_source.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_monitors.h"
#include "support/threads.h"
#include "support/xvfb_server.h"

// Last: Xlib defines None, Bool and True as macros.
#include <X11/Xlib.h>

namespace vistaro::x11 {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t gray = 0x5a5a5a, red = 0xff0000, black = 0, white = 0xffffff;

uint32_t pixelAt(const CapturedFrame& frame, int x, int y) {  // 0xRRGGBB
  uint32_t bgra;
  std::memcpy(&bgra, frame.pixels->row(y) + x * 4, 4);
  return bgra & 0xffffff;
}
// Every pixel of the area lies in one of the rectangles.
bool covers(const DirtyRegion& changes, const Rect& area) {
  for (double y = area.y; y < area.maxY(); ++y) {
    for (double x = area.x; x < area.maxX(); ++x) {
      const auto inside = [&](const Rect& r) { return r.intersects({x + 0.25, y + 0.25, 0.5, 0.5}); };
      if (changes.known() && std::none_of(changes.rects().begin(), changes.rects().end(), inside)) return false;
    }
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

  std::optional<CaptureError> run(ScreenCapturer::Operation operation, ScreenCapturer* on = nullptr) {
    main.post([&] { (on ? *on : capturer).enqueue(operation, [this](auto error) { results.put(error); }); });
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
  // The root window's pointer: 16 × 16, hot spot in the middle, its left or right half black.
  void useHalfBlackCursor(bool left) {
    unsigned char shape[32], mask[32];
    for (int i = 0; i < 32; ++i) shape[i] = (i % 2 == 0) == left ? 0xff : 0, mask[i] = 0xff;
    const Window root = DefaultRootWindow(display);
    const Pixmap source = XCreateBitmapFromData(display, root, reinterpret_cast<char*>(shape), 16, 16);
    const Pixmap opaque = XCreateBitmapFromData(display, root, reinterpret_cast<char*>(mask), 16, 16);
    XColor ink{}, paper{.red = 0xffff, .green = 0xffff, .blue = 0xffff};
    XDefineCursor(display, root, XCreatePixmapCursor(display, source, opaque, &ink, &paper, 8, 8));
    XSync(display, False);
  }
  void movePointer(int x, int y) {
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, x, y);
    XSync(display, False);
  }

  testing::XvfbServer server{1920, 1080};
  std::unique_ptr<Connection> painter = Connection::open(server.name());  // survives the server's end
  ::Display* display = painter->get();
  AsioExecutor main{"test-main"}, capture{"test-capture"};
  X11CaptureSource source{main, capture, server.name()};
  ScreenCapturer capturer{main, source};
  testing::Mailbox<CapturedFrame> frames;
  testing::Mailbox<std::optional<CaptureError>> stops, results;
};

TEST_F(X11CaptureTest, TheMonitorsOfASplitScreenAreDisplaysWhoseFramesCoverWhatIsDrawnOnThem) {
  // "left" 800 × 1080 at the origin and the primary "right" 1120 × 900 at (800, 100), at 192 dpi.
  ASSERT_EQ(server.run({"sh", "-c",
                        "xrandr --setmonitor left 800/211x1080/286+0+0 screen && echo Xft.dpi: 192 | xrdb -merge && "
                        "xrandr --setmonitor '*right' 1120/296x900/238+800+100 none"}),
            0);
  std::promise<ScreenCapturer::DisplayListing> found;
  main.post([&] { capturer.displays([&](auto, auto listing) { found.set_value(listing); }); });
  const auto listing = found.get_future().get();
  EXPECT_EQ(listing.displays,
            (std::vector<DisplayInfo>{{monitorID("right"), "right", 1120, 900},  // RandR: primary first
                                      {monitorID("left"), "left", 800, 1080}}));
  EXPECT_EQ(listing.mainDisplay, monitorID("right"));

  movePointer(10, 10);  // out of the right display, out of its picture
  const auto first = startAndSettle(monitorID("right"));
  EXPECT_EQ(first.display, monitorID("right"));
  EXPECT_EQ(first.pointScale, 2.0);
  EXPECT_EQ(first.pixels->width(), 1120);
  EXPECT_EQ(first.pixels->height(), 900);
  fill({1000, 300, 100, 80}, red);
  const Rect drawn{200, 200, 100, 80};  // the same area in the right display's pixels
  auto frame = frames.takeUntil([&](const CapturedFrame& f) {
    return f.changes.known() && covers(f.changes, drawn) && pixelAt(f, 250, 240) == red;
  });
  ASSERT_TRUE(frame) << "no frame showed the drawing with changes around it";
  EXPECT_EQ(pixelAt(*frame, 200, 200), red);
  EXPECT_EQ(pixelAt(*frame, 299, 279), red);
  for (const Rect& r : frame->changes.rects()) EXPECT_EQ((Rect{0, 0, 1120, 900}.intersection(r)), r);

  ASSERT_EQ(server.run({"xrandr", "--delmonitor", "right"}), 0);
  const auto stop = stops.take();
  ASSERT_TRUE(stop && *stop);
  EXPECT_EQ((*stop)->description, "ディスプレイの構成が変わりました");
}

TEST_F(X11CaptureTest, PointerMotionOrANewPointerShapeAloneYieldsAFrameAndIdlenessNone) {
  fill({0, 0, 1920, 1080}, gray);
  useHalfBlackCursor(true);
  movePointer(300, 300);
  const auto before = startAndSettle();
  EXPECT_EQ(pixelAt(before, 295, 300), black) << "the pointer is drawn into the frame";
  EXPECT_EQ(pixelAt(before, 695, 500), gray);
  EXPECT_FALSE(frames.take(800ms)) << "nothing changed";

  movePointer(700, 500);
  auto moved = frames.takeUntil([](const CapturedFrame& f) {
    return f.changes.known() && covers(f.changes, {292, 292, 16, 16}) && covers(f.changes, {692, 492, 16, 16});
  });
  ASSERT_TRUE(moved) << "moving the pointer must repaint its old and new places";
  EXPECT_EQ(pixelAt(*moved, 295, 300), gray);
  EXPECT_EQ(pixelAt(*moved, 695, 500), black);

  useHalfBlackCursor(false);  // the same size and place
  auto reshaped = frames.take();
  ASSERT_TRUE(reshaped && reshaped->changes.known() && covers(reshaped->changes, {692, 492, 16, 16}))
      << "the client must see the pointer change shape";
  EXPECT_EQ(pixelAt(*reshaped, 695, 500), white);
  EXPECT_EQ(pixelAt(*reshaped, 705, 500), black);
}

TEST_F(X11CaptureTest, ContinuousDrawingIsCapturedAtMostTwentyTimesASecond) {
  startAndSettle();
  const auto begin = Clock::now();
  size_t count = 0;
  for (int i = 0; Clock::now() - begin < 1500ms; ++i) {
    fill({i % 50 * 10.0, 100, 40, 40}, i * 0x010307);
    std::this_thread::sleep_for(4ms);
    while (frames.take(0ms)) ++count;
  }
  while (frames.take(100ms)) ++count;
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  EXPECT_LE(count, size_t(seconds * 20) + 1);
  EXPECT_GT(count, 2u) << "continuous change keeps frames coming";
}

TEST_F(X11CaptureTest, AConsumerHoldingEveryBufferPausesFramesWithoutLosingChanges) {
  startAndSettle();
  const auto holdEveryBuffer = [&] {  // as a stuck consumer would
    std::vector<CapturedFrame> held;
    for (int i = 0; i < 8; ++i) {
      fill({i * 20.0, 0, 10, 10}, red);
      auto frame = frames.take(1s);
      if (!frame) break;
      held.push_back(std::move(*frame));
    }
    return held;
  };
  auto held = holdEveryBuffer();
  EXPECT_EQ(held.size(), 5u) << "the pool holds five buffers";
  fill({400, 400, 30, 30}, red);
  EXPECT_FALSE(frames.take(300ms));
  held.clear();
  auto resumed = frames.take();
  ASSERT_TRUE(resumed && resumed->changes.known() && covers(resumed->changes, {400, 400, 30, 30}))
      << "the change made while paused must reach the next frame";
  EXPECT_EQ(pixelAt(*resumed, 410, 410), red);
  held = holdEveryBuffer();
  // A staircase of small windows that the server cannot merge: more changes than are kept.
  for (int i = 0; i < 150; ++i) fill({i * 12.0, 200 + i * 5.0, 4, 4}, red);
  std::this_thread::sleep_for(300ms);
  held.clear();
  resumed = frames.take();
  ASSERT_TRUE(resumed);
  EXPECT_FALSE(resumed->changes.known());
  EXPECT_EQ(pixelAt(*resumed, 12 * 149 + 1, 200 + 5 * 149 + 1), red);
}

TEST_F(X11CaptureTest, KillingTheServerEndsTheStreamAsALostDisplay) {
  // Far above the numbers -displayfd hands out: a display that never opened refuses us.
  X11CaptureSource nowhere(main, capture, ":64999");
  ScreenCapturer refused(main, nowhere);
  EXPECT_EQ(run(refused.start(0), &refused), CaptureError::noPermission());

  startAndSettle();
  server.kill();
  const auto stop = stops.take(15s);
  ASSERT_TRUE(stop && *stop);
  EXPECT_EQ((*stop)->code, CaptureError::Code::displayLost);
  // Once it has been there, a display that does not open has gone away, not refused us.
  EXPECT_EQ(run(capturer.start(0)), CaptureError::displayLost());
}

}  // namespace
}  // namespace vistaro::x11
