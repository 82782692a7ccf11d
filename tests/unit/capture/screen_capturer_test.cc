#include "capture/screen_capturer.h"

#include <gtest/gtest.h>

#include "core/manual_executor.h"
#include "fakes/fake_capture_source.h"

namespace vistaro {
namespace {

using testing::FakeCaptureSource;
using Calls = std::vector<std::string>;

struct Frame {
  DisplayID display;
  std::optional<std::vector<Rect>> dirty;
  double scale;
};

class ScreenCapturerTest : public ::testing::Test {
 protected:
  ScreenCapturerTest() {
    source.displays = {{7, "left", 1920, 1080, false, 1.0}, {9, "right", 2880, 1800, true, 2.0}};
    capturer.onFrame = [this](SharedPixels, DisplayID id, std::optional<std::vector<Rect>> dirty, double scale) {
      frames.push_back({id, std::move(dirty), scale});
    };
    capturer.onStop = [this](std::optional<CaptureError> error) { stops.push_back(std::move(error)); };
  }

  // Enqueues and, for a named operation, records the result when it arrives.
  void enqueue(ScreenCapturer::Operation operation, std::string name = {}) {
    if (name.empty()) return capturer.enqueue(std::move(operation));
    capturer.enqueue(std::move(operation), [this, name](std::optional<CaptureError> error) {
      results.push_back(name + (error ? ": " + error->description : ": ok"));
    });
  }

  ManualExecutor main;
  FakeCaptureSource source{main};
  ScreenCapturer capturer{main, source};
  std::vector<Frame> frames;
  std::vector<std::optional<CaptureError>> stops;
  std::vector<std::string> results;
};

TEST_F(ScreenCapturerTest, OperationsRunOneAtATimeInOrderAndFailuresDoNotStopTheChain) {
  std::vector<std::string> log;
  ScreenCapturer::Completion heldFirst;
  enqueue([&](ScreenCapturer::Completion done) { log.push_back("first"), heldFirst = std::move(done); }, "first");
  enqueue([&](ScreenCapturer::Completion done) { log.push_back("second"), done(CaptureError::platform("boom")); },
          "second");
  enqueue([&](ScreenCapturer::Completion done) { log.push_back("third"), done(std::nullopt); }, "third");
  main.runUntilIdle();

  EXPECT_EQ(log, Calls({"first"}));  // the others wait for the first, however long it takes
  EXPECT_EQ(capturer.pendingOperations(), 3);

  heldFirst(std::nullopt);
  main.runUntilIdle();
  EXPECT_EQ(log, Calls({"first", "second", "third"}));
  EXPECT_EQ(results, Calls({"first: ok", "second: boom", "third: ok"}));
  EXPECT_EQ(capturer.pendingOperations(), 0);
}

TEST_F(ScreenCapturerTest, StartOnAMissingDisplayFallsBackToTheFirstAndStampsItsFrames) {
  enqueue(capturer.start(42), "start");
  main.runUntilIdle();
  ASSERT_EQ(results, Calls({"start: ok"}));
  EXPECT_TRUE(capturer.streaming());
  EXPECT_EQ(capturer.displayID(), 7u);
  EXPECT_EQ(source.streamingOn, 7u);

  source.emitFrame(PixelBuffer::allocate(4, 4), std::nullopt);
  source.emitFrame(PixelBuffer::allocate(4, 4), std::vector<Rect>{});
  source.emitFrame(PixelBuffer::allocate(4, 4), std::vector<Rect>{{1, 2, 3, 4}});
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].display, 7u);
  EXPECT_EQ(frames[0].scale, 1.0);
  EXPECT_FALSE(frames[0].dirty.has_value());  // absent stays absent ...
  EXPECT_EQ(frames[1].dirty, std::vector<Rect>{});  // ... and empty stays empty
  EXPECT_EQ(frames[2].dirty, (std::vector<Rect>{{1, 2, 3, 4}}));

  enqueue(capturer.start(9), "restart");
  main.runUntilIdle();
  EXPECT_EQ(capturer.displayID(), 9u);
  EXPECT_EQ(capturer.pointScale(), 2.0);
}

TEST_F(ScreenCapturerTest, FailedStartsLeaveNoStream) {
  enqueue(capturer.start(7), "first");
  main.runUntilIdle();
  source.startError = CaptureError::platform("denied");
  enqueue(capturer.start(9), "second");
  main.runUntilIdle();
  EXPECT_EQ(results.back(), "second: denied");
  EXPECT_FALSE(capturer.streaming());
  EXPECT_FALSE(source.streamingOn.has_value());  // the old stream was stopped first

  source.startError.reset();
  source.displays.clear();
  enqueue(capturer.start(7), "third");
  main.runUntilIdle();
  EXPECT_EQ(results.back(), "third: キャプチャできるディスプレイがありません");
  EXPECT_FALSE(capturer.streaming());

  source.listError = CaptureError::noPermission();
  enqueue(capturer.start(7), "fourth");
  main.runUntilIdle();
  EXPECT_EQ(results.back(), "fourth: 画面収録の許可が必要です");
  EXPECT_TRUE(stops.empty());
}

TEST_F(ScreenCapturerTest, QuickRestartsDoNotReportTheOldStreamsStop) {
  source.reportRequestedStops = true;
  enqueue(capturer.start(7), "a");
  enqueue(capturer.start(9), "b");
  main.runUntilIdle();
  EXPECT_EQ(source.calls, Calls({"list", "start 7", "stop", "list", "start 9"}));
  EXPECT_EQ(results, Calls({"a: ok", "b: ok"}));

  // The old stream's end arriving late, or any stop while an operation waits, is not news.
  source.platformStop(1, CaptureError::platform("old"));
  enqueue(capturer.updateFilter());
  source.platformStop(2, CaptureError::platform("during"));
  main.runUntilIdle();
  EXPECT_TRUE(stops.empty());
  EXPECT_TRUE(capturer.streaming());
}

TEST_F(ScreenCapturerTest, AStopNobodyAskedForIsReportedOnce) {
  enqueue(capturer.start(9));
  main.runUntilIdle();
  source.platformStop(1, CaptureError::platform("X server gone"));
  main.runUntilIdle();
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_EQ(stops[0]->description, "X server gone");
  EXPECT_FALSE(capturer.streaming());

  enqueue(capturer.stop(), "stop");  // nothing left to stop
  main.runUntilIdle();
  EXPECT_EQ(results, Calls({"stop: ok"}));
  EXPECT_EQ(std::count(source.calls.begin(), source.calls.end(), "stop"), 0);
}

TEST_F(ScreenCapturerTest, UpdateFilterOnlyActsOnARunningStreamWhoseDisplayStillExists) {
  enqueue(capturer.updateFilter(), "idle");
  main.runUntilIdle();
  EXPECT_TRUE(source.calls.empty());

  enqueue(capturer.start(9));
  main.runUntilIdle();
  source.calls.clear();
  source.filterError = CaptureError::platform("refused");
  enqueue(capturer.updateFilter(), "running");
  main.runUntilIdle();
  EXPECT_EQ(source.calls, Calls({"list", "filter"}));

  source.displays.pop_back();  // display 9 unplugged
  source.calls.clear();
  enqueue(capturer.updateFilter(), "gone");
  main.runUntilIdle();
  EXPECT_EQ(source.calls, Calls({"list"}));
  EXPECT_EQ(results, Calls({"idle: ok", "running: refused", "gone: ok"}));
}

TEST_F(ScreenCapturerTest, DisplaysNameTheNamelessAndPickThePrimaryAsMain) {
  source.displays = {{5, "", 800, 600, false, 1.0}, {6, "HDMI-1", 1920, 1080, true, 1.0}};
  std::optional<ScreenCapturer::DisplayListing> listing;
  capturer.displays([&](std::optional<CaptureError> error, ScreenCapturer::DisplayListing found) {
    EXPECT_FALSE(error);
    listing = std::move(found);
  });
  main.runUntilIdle();
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->displays,
            (std::vector<DisplayInfo>{{5, "ディスプレイ 5", 800, 600}, {6, "HDMI-1", 1920, 1080}}));
  EXPECT_EQ(listing->mainDisplay, 6u);

  source.displays[1].primary = false;
  capturer.displays([&](auto, ScreenCapturer::DisplayListing found) { listing = std::move(found); });
  main.runUntilIdle();
  EXPECT_EQ(listing->mainDisplay, 5u);
}

}  // namespace
}  // namespace vistaro
