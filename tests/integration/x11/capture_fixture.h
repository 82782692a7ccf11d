#pragma once

// A capturer on the real X11 source against a private Xvfb, with a painter connection that
// draws and moves the pointer like another client of the session would.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

#include "capture/screen_capturer.h"
#include "core/asio_executor.h"
#include "platform/x11/x11_capture_source.h"
#include "support/xvfb_server.h"

namespace vistaro::x11 {

struct CapturedFrame {
  SharedPixels pixels;
  DisplayID display;
  std::optional<std::vector<Rect>> dirty;
  double scale;
  Clock::time_point at;
};

// Opaque BGRA colour, as the frames hold it.
struct Color {
  uint8_t b, g, r;
  bool operator==(const Color&) const = default;
};

inline Color pixelAt(const PixelBuffer& buffer, int x, int y) {
  const uint8_t* p = buffer.row(y) + size_t(x) * 4;
  return {p[0], p[1], p[2]};
}

inline bool covers(const std::optional<std::vector<Rect>>& dirty, const Rect& area) {
  if (!dirty) return true;
  // Every pixel of the area must lie in some rectangle; checking on a coarse grid of the
  // area's pixels is enough for the axis-aligned shapes the server reports.
  for (double y = area.y; y < area.maxY(); y += 1)
    for (double x = area.x; x < area.maxX(); x += 1) {
      bool inside = std::any_of(dirty->begin(), dirty->end(), [&](const Rect& r) {
        return x >= r.x && x < r.maxX() && y >= r.y && y < r.maxY();
      });
      if (!inside) return false;
    }
  return true;
}

// Another client of the session: draws solid windows and moves the pointer.
class Painter {
 public:
  explicit Painter(const std::string& display);
  ~Painter();
  // A borderless window that the window manager (if any) leaves alone, filled with one colour.
  void fill(const Rect& rootArea, Color color);
  void movePointer(int rootX, int rootY);
  // Gives the root window a 16 × 16 cursor, hot spot in the middle, whose left (variant 0)
  // or right half is black: two shapes of the same size and place.
  void useHalfBlackCursor(int variant);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class CaptureFixture : public ::testing::Test {
 protected:
  using Seconds = std::chrono::duration<double>;

  CaptureFixture() {
    capturer.onFrame = [this](SharedPixels pixels, DisplayID id, std::optional<std::vector<Rect>> dirty,
                              double scale) {
      std::lock_guard lock(mutex);
      // Only the newest frames keep their pixels: holding them all would drain the
      // capturer's buffer pool and stop the frames, as a stuck consumer would.
      if (frames.size() >= keptPixels) frames[frames.size() - keptPixels].pixels.reset();
      frames.push_back({std::move(pixels), id, std::move(dirty), scale, Clock::now()});
      changed.notify_all();
    };
    capturer.onStop = [this](std::optional<CaptureError> error) {
      std::lock_guard lock(mutex);
      stops.push_back(std::move(error));
      changed.notify_all();
    };
  }
  ~CaptureFixture() override { runOperation(capturer, [this] { return capturer.stop(); }); }

  // Runs an operation through the chain on the main executor and waits for its result.
  std::optional<CaptureError> runOperation(ScreenCapturer& on, std::function<ScreenCapturer::Operation()> make) {
    std::promise<std::optional<CaptureError>> result;
    main.post([&] {
      on.enqueue(make(), [&](std::optional<CaptureError> error) { result.set_value(std::move(error)); });
    });
    return result.get_future().get();
  }
  std::optional<CaptureError> start(DisplayID id) {
    return runOperation(capturer, [this, id] { return capturer.start(id); });
  }
  // The first stop nobody asked for, if one comes in time.
  std::optional<std::optional<CaptureError>> waitForStop(Seconds timeout) {
    std::unique_lock lock(mutex);
    if (!changed.wait_for(lock, timeout, [&] { return !stops.empty(); })) return std::nullopt;
    return stops[0];
  }

  ScreenCapturer::DisplayListing listDisplays() {
    std::promise<ScreenCapturer::DisplayListing> result;
    main.post([&] {
      capturer.displays([&](std::optional<CaptureError> error, ScreenCapturer::DisplayListing listing) {
        EXPECT_FALSE(error) << error->description;
        result.set_value(std::move(listing));
      });
    });
    return result.get_future().get();
  }

  // Waits until a frame after the first `after` satisfies the predicate.
  // Frames whose pixels were let go are not offered.
  std::optional<CapturedFrame> waitForFrame(size_t after, std::function<bool(const CapturedFrame&)> wanted,
                                            Seconds timeout = Seconds(5)) {
    std::unique_lock lock(mutex);
    std::optional<CapturedFrame> found;
    changed.wait_for(lock, timeout, [&] {
      for (size_t i = after; i < frames.size(); ++i)
        if (frames[i].pixels && wanted(frames[i])) return found = frames[i], true;
      return false;
    });
    return found;
  }
  size_t frameCount() {
    std::lock_guard lock(mutex);
    return frames.size();
  }
  CapturedFrame latestFrame() {
    std::lock_guard lock(mutex);
    return frames.back();
  }
  // Waits until no frame has come for `quiet` (giving up after a few seconds: the test's
  // own expectations then tell what went wrong).
  void waitUntilIdle(Seconds quiet = Seconds(0.3)) {
    size_t seen = frameCount();
    for (int round = 0; round < 20; ++round) {
      std::this_thread::sleep_for(quiet);
      size_t now = frameCount();
      if (now == seen) return;
      seen = now;
    }
  }

  testing::XvfbServer server{1920, 1080};
  AsioExecutor main{"test-main"};
  AsioExecutor capture{"velmora.capture"};
  X11CaptureSource source{main, capture, server.name()};
  ScreenCapturer capturer{main, source};

  static constexpr size_t keptPixels = 2;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<CapturedFrame> frames;
  std::vector<std::optional<CaptureError>> stops;
};

}  // namespace vistaro::x11
