#include <fstream>
#include <map>

#include "capture_fixture.h"
#include "platform/x11/x11_monitors.h"

namespace vistaro::x11 {
namespace {

constexpr Color gray{90, 90, 90};
constexpr Color red{0, 0, 255};

class X11CaptureTest : public CaptureFixture {
 protected:
  // Two displays: "left" 800 × 1080 at the origin and the primary "right" 1120 × 900 at (800, 100).
  void splitScreen() {
    ASSERT_EQ(server.run({"xrandr", "--setmonitor", "left", "800/211x1080/286+0+0", "screen"}), 0);
    ASSERT_EQ(server.run({"xrandr", "--setmonitor", "*right", "1120/296x900/238+800+100", "none"}), 0);
  }
  void setDpi(int dpi) {
    std::string path = ::testing::TempDir() + "/xresources";
    std::ofstream(path) << "Xft.dpi: " << dpi << "\n";
    ASSERT_EQ(server.run({"xrdb", "-merge", path}), 0);
  }
  // Starts on a display and waits for its first frame, then for the screen to settle.
  size_t startAndSettle(DisplayID id) {
    auto error = start(id);
    EXPECT_FALSE(error) << error->description;
    EXPECT_TRUE(waitForFrame(0, [](const CapturedFrame&) { return true; }));
    waitUntilIdle();
    return frameCount();
  }

  // Takes frames and keeps them, as a stuck consumer would, until no more come.
  std::vector<SharedPixels> holdEveryBuffer() {
    std::vector<SharedPixels> held;
    for (int i = 0; i < 8; ++i) {
      size_t before = frameCount();
      painter.fill({double(i) * 20, 0, 10, 10}, red);
      auto frame = waitForFrame(before, [](const CapturedFrame&) { return true; }, Seconds(1));
      if (!frame) break;
      held.push_back(frame->pixels);
    }
    return held;
  }

  Painter painter{server.name()};
};

TEST_F(X11CaptureTest, DisplaysAreTheMonitorsWithTheirSizesAndTheSessionScale) {
  splitScreen();
  setDpi(192);
  auto listing = listDisplays();
  ASSERT_EQ(listing.displays.size(), 2u);
  std::map<std::string, DisplayInfo> byName;
  for (auto& display : listing.displays) byName[display.name] = display;
  EXPECT_EQ(byName["left"], (DisplayInfo{monitorID("left"), "left", 800, 1080}));
  EXPECT_EQ(byName["right"], (DisplayInfo{monitorID("right"), "right", 1120, 900}));
  EXPECT_EQ(listing.mainDisplay, monitorID("right"));

  // An unknown display falls back to the first; frames carry its ID, size and the scale.
  ASSERT_FALSE(start(12345));
  auto frame = waitForFrame(0, [](const CapturedFrame&) { return true; });
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->display, listing.displays[0].id);
  EXPECT_EQ(frame->pixels->width(), listing.displays[0].width);
  EXPECT_EQ(frame->pixels->height(), listing.displays[0].height);
  EXPECT_EQ(frame->scale, 2.0);
  EXPECT_FALSE(frame->dirty.has_value());  // nothing to compare the first frame with
}

TEST_F(X11CaptureTest, DrawingYieldsFramesWhoseDirtyRectsCoverTheDrawing) {
  splitScreen();
  size_t settled = startAndSettle(monitorID("right"));
  painter.movePointer(10, 10);  // out of this display, out of the picture
  waitUntilIdle();
  settled = frameCount();

  painter.fill({1000, 300, 100, 80}, red);
  const Rect drawn{200, 200, 100, 80};  // the same area in the right display's pixels
  auto frame = waitForFrame(settled, [&](const CapturedFrame& f) {
    return f.dirty && covers(f.dirty, drawn) && pixelAt(*f.pixels, 250, 240) == red;
  });
  ASSERT_TRUE(frame) << "no frame showed the drawing with dirty rectangles around it";
  EXPECT_EQ(pixelAt(*frame->pixels, 200, 200), red);
  EXPECT_EQ(pixelAt(*frame->pixels, 299, 279), red);
  for (const Rect& r : *frame->dirty) {
    EXPECT_GE(r.x, 0);
    EXPECT_GE(r.y, 0);
    EXPECT_LE(r.maxX(), 1120);
    EXPECT_LE(r.maxY(), 900);
  }
}

TEST_F(X11CaptureTest, PointerMotionAloneYieldsFramesWithThePointerInItsNewPlace) {
  painter.fill({0, 0, 1920, 1080}, gray);
  painter.movePointer(300, 300);
  size_t settled = startAndSettle(0);
  CapturedFrame before = latestFrame();
  ASSERT_NE(pixelAt(*before.pixels, 301, 303), gray) << "the pointer is drawn into the frame";
  ASSERT_EQ(pixelAt(*before.pixels, 700, 503), gray);

  painter.movePointer(700, 500);
  auto after = waitForFrame(settled, [](const CapturedFrame& f) {
    return f.dirty && covers(f.dirty, {298, 298, 6, 6}) && covers(f.dirty, {698, 498, 6, 6});
  });
  ASSERT_TRUE(after) << "moving the pointer must repaint its old and new places";
  EXPECT_EQ(pixelAt(*after->pixels, 301, 303), gray);
  EXPECT_NE(pixelAt(*after->pixels, 701, 503), gray);
}

TEST_F(X11CaptureTest, ANewPointerShapeAloneYieldsAFrame) {
  painter.useHalfBlackCursor(0);
  painter.movePointer(500, 500);
  size_t settled = startAndSettle(0);
  ASSERT_EQ(pixelAt(*latestFrame().pixels, 495, 500), (Color{0, 0, 0}));
  painter.useHalfBlackCursor(1);
  auto frame = waitForFrame(settled, [](const CapturedFrame& f) { return f.dirty && covers(f.dirty, {492, 492, 16, 16}); });
  ASSERT_TRUE(frame) << "the client must see the pointer change shape";
  EXPECT_EQ(pixelAt(*frame->pixels, 505, 500), (Color{0, 0, 0}));
  EXPECT_EQ(pixelAt(*frame->pixels, 495, 500), (Color{255, 255, 255}));
}

TEST_F(X11CaptureTest, NoDrawingAndNoMotionYieldNoFrames) {
  size_t settled = startAndSettle(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_EQ(frameCount(), settled);
}

TEST_F(X11CaptureTest, ContinuousDrawingIsCapturedAtMostTwentyTimesASecond) {
  size_t settled = startAndSettle(0);
  auto begin = Clock::now();
  for (int i = 0; Clock::now() - begin < std::chrono::milliseconds(1500); ++i) {
    painter.fill({double(i % 50) * 10, 100, 40, 40}, Color{uint8_t(i), uint8_t(i * 7), 200});
    std::this_thread::sleep_for(std::chrono::milliseconds(4));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto end = Clock::now();
  size_t count = 0;
  {
    std::lock_guard lock(mutex);
    for (size_t i = settled; i < frames.size(); ++i) count += frames[i].at >= begin;
  }
  double seconds = Seconds(end - begin).count();
  EXPECT_LE(count, size_t(seconds * 20) + 1);
  EXPECT_GE(count, size_t(seconds * 5)) << "continuous change should keep frames coming";
}

TEST_F(X11CaptureTest, AConsumerHoldingEveryBufferPausesFramesWithoutLosingChanges) {
  size_t settled = startAndSettle(0);
  std::vector<SharedPixels> held = holdEveryBuffer();
  EXPECT_EQ(held.size(), 5u) << "the pool holds five buffers";

  const Rect drawnMeanwhile{400, 400, 30, 30};
  painter.fill(drawnMeanwhile, red);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  size_t paused = frameCount();
  held.clear();
  auto resumed = waitForFrame(paused, [&](const CapturedFrame& f) { return covers(f.dirty, drawnMeanwhile); });
  ASSERT_TRUE(resumed) << "the change made while paused must reach the next frame";
  EXPECT_EQ(pixelAt(*resumed->pixels, 410, 410), red);
  EXPECT_GT(paused, settled);
}

TEST_F(X11CaptureTest, TooManyChangesWhilePausedBecomeAWholeFrameChange) {
  startAndSettle(0);
  std::vector<SharedPixels> held = holdEveryBuffer();
  // A staircase of small windows: the server cannot merge them into fewer rectangles.
  for (int i = 0; i < 150; ++i) painter.fill({double(i) * 12, 200 + double(i) * 5, 4, 4}, red);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  size_t paused = frameCount();
  held.clear();
  auto resumed = waitForFrame(paused, [](const CapturedFrame&) { return true; });
  ASSERT_TRUE(resumed);
  EXPECT_FALSE(resumed->dirty.has_value());
  EXPECT_EQ(pixelAt(*resumed->pixels, 12 * 149 + 1, 200 + 5 * 149 + 1), red);
}

TEST_F(X11CaptureTest, RemovingTheCapturedMonitorEndsTheStreamThroughOnStop) {
  splitScreen();
  startAndSettle(monitorID("right"));
  ASSERT_EQ(server.run({"xrandr", "--delmonitor", "right"}), 0);
  const auto stop = waitForStop(Seconds(5));
  ASSERT_TRUE(stop && *stop);
  EXPECT_EQ((*stop)->description, "ディスプレイの構成が変わりました");
}

TEST_F(X11CaptureTest, KillingTheServerEndsTheStreamAsALostDisplay) {
  startAndSettle(0);
  server.kill();
  const auto stop = waitForStop(Seconds(15));
  ASSERT_TRUE(stop && *stop);
  EXPECT_EQ((*stop)->code, CaptureError::Code::displayLost);
  // Once it has been there, a display that does not open has gone away, not refused us.
  const auto error = runOperation(capturer, [&] { return capturer.start(0); });
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, CaptureError::displayLost());
}

TEST_F(X11CaptureTest, ADisplayThatCannotBeOpenedIsTheMissingPermission) {
  // Far above the numbers -displayfd hands out, so no test's server answers there.
  X11CaptureSource nowhere(main, capture, ":64999");
  ScreenCapturer refused(main, nowhere);
  const auto error = runOperation(refused, [&] { return refused.start(0); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, CaptureError::Code::noPermission);
  EXPECT_EQ(error->description, "画面収録の許可が必要です");
}

}  // namespace
}  // namespace vistaro::x11
