#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "capture/change_detecting_source.h"
#include "capture/frame_encoder.h"
#include "capture/screen_capturer.h"
#include "core/manual_executor.h"
#include "fakes/capture/fake_capture_source.h"
#include "fakes/capture/test_images.h"

namespace vistaro {
namespace {

using Calls = std::vector<std::string>;

// Row padding holds pattern bytes too, which no comparison may read.
std::shared_ptr<PixelBuffer> patterned(int width, int height, size_t padding = 0) {
  auto frame = PixelBuffer::allocate(width, height, size_t(width) * 4 + padding);
  for (size_t i = 0; i < frame->bytesPerRow() * height; ++i) frame->mutableData()[i] = uint8_t(i * 7 + i / 13);
  return frame;
}
std::shared_ptr<PixelBuffer> copyOf(const PixelBuffer& frame) {
  auto copy = PixelBuffer::allocate(frame.width(), frame.height(), frame.bytesPerRow());
  std::memcpy(copy->mutableData(), frame.data(), frame.bytesPerRow() * frame.height());
  return copy;
}
Rect whole(const PixelBuffer& frame) { return {0, 0, double(frame.width()), double(frame.height())}; }

// Random frames and hints against a tile-by-tile model: edge tiles cut to odd sizes, noise in
// row padding, overlapping, fractional and outlying rectangles, unknown hints (the
// whole frame becomes history), changes outside every rectangle that wait until one covers
// them, frames of another size or display (a fresh history), and unusable frames (their hints
// passed through, the history kept).
TEST(ChangeDetector, AgreesWithATileByTileModel) {
  std::mt19937 random(7);
  const int huge = std::numeric_limits<int>::max();
  static uint8_t byte;
  const std::shared_ptr<void> memory;  // nobody's: the buffers below must never be read
  const SharedPixels unusable[] = {nullptr,
                                   PixelBuffer::allocate(64, 64, 0, PixelFormat::other),
                                   PixelBuffer::allocate(64, 64, 200),
                                   std::make_shared<const PixelBuffer>(PixelFormat::bgra, 64, 64, 256, nullptr),
                                   std::make_shared<const PixelBuffer>(PixelFormat::bgra, huge, huge, huge * 4ul,
                                                                       std::shared_ptr<uint8_t>(memory, &byte)),
                                   std::make_shared<const PixelBuffer>(PixelFormat::bgra, 64, 64, 1ul << 62,
                                                                       std::shared_ptr<uint8_t>(memory, &byte))};
  ChangeDetector detector;
  std::shared_ptr<PixelBuffer> frame, model;
  DisplayID display = 1;
  const auto edgy = [&](int n) {  // often a tile's first or last row or column
    return random() % 2 ? int(random() % n)
                        : std::min(n - 1, int(random() % (n / 64 + 1)) * 64 + 63 * int(random() % 2));
  };
  for (int step = 0; step < 400; ++step) {
    if (step % 6 == 0) {
      if (step % 12 == 0)
        frame = patterned(1 + random() % 400, 1 + random() % 200, random() % 2 * 32);
      else
        frame = copyOf(*frame), ++display;
      ASSERT_EQ(detector.detectChanges({frame, display, 1.0, DirtyRegion::of({whole(*frame)})}),
                DirtyRegion::unknown());
      model = copyOf(*frame);
      continue;
    }
    const int w = frame->width(), h = frame->height(), padding = int(frame->bytesPerRow()) - w * 4;
    std::vector<Rect> hints, expected;
    for (int n = random() % 5; n > 0; --n) {
      const double x = random() % 3 ? int(random() % (w + 40)) - 20 : 64 * (random() % 7) - 0.5;
      hints.push_back(
          {x + 0.5 * (random() % 2), int(random() % (h + 40)) - 20.0, double(random() % 150), double(random() % 90)});
    }
    const bool unknown = random() % 6 == 0;
    const auto given = unknown ? DirtyRegion::unknown() : DirtyRegion::of(hints);
    if (random() % 8 == 0) {
      ASSERT_EQ(detector.detectChanges({unusable[random() % 6], display, 1.0, given}), given);
      continue;
    }
    auto next = copyOf(*frame);
    for (int n = random() % 8; n > 0; --n) next->mutableRow(edgy(h))[edgy(w) * 4 + 1] ^= 0x5a;
    for (int y = 0; y < h && padding; ++y) next->mutableRow(y)[w * 4 + random() % padding] ^= 0xff;
    const int columns = (w + 63) / 64;
    std::vector<bool> visited(columns * ((h + 63) / 64));
    for (const Rect& r : unknown ? std::vector<Rect>{whole(*frame)} : hints) {
      const auto c = whole(*frame).intersection(r);
      if (!c || c->isEmpty()) continue;
      for (int ty = int(c->minY()) / 64; ty <= (int(std::ceil(c->maxY())) - 1) / 64; ++ty) {
        for (int tx = int(c->minX()) / 64; tx <= (int(std::ceil(c->maxX())) - 1) / 64; ++tx) {
          if (visited[ty * columns + tx]) continue;
          visited[ty * columns + tx] = true;
          const int tw = std::min(64, w - tx * 64), th = std::min(64, h - ty * 64);
          bool differs = false;
          for (int y = ty * 64; y < ty * 64 + th; ++y)
            differs |= std::memcmp(next->row(y) + tx * 256, model->row(y) + tx * 256, tw * 4) != 0;
          if (!differs) continue;
          for (int y = ty * 64; y < ty * 64 + th; ++y)
            std::memcpy(model->mutableRow(y) + tx * 256, next->row(y) + tx * 256, tw * 4);
          expected.push_back({tx * 64.0, ty * 64.0, double(tw), double(th)});
        }
      }
    }
    ASSERT_EQ(detector.detectChanges({next, display, 1.0, given}), unknown ? given : DirtyRegion::of(expected))
        << w << "x" << h << " step " << step;
    frame = next;
  }
}

TEST(ChangeDetectingSource, PassesOnlyFramesThatReallyChangedWithTheirRefinedChanges) {
  ManualExecutor main;
  testing::FakeCaptureSource inner{main};
  ChangeDetectingSource source{inner};
  std::vector<CapturedFrame> passed;
  std::vector<std::optional<CaptureError>> stops;
  source.startStream(
      3, [&](CapturedFrame frame) { passed.push_back(std::move(frame)); },
      [&](std::optional<CaptureError> error) { stops.push_back(error); }, [](auto) {});
  main.runUntilIdle();
  auto frame = patterned(128, 64), changed = copyOf(*frame);
  changed->mutableRow(10)[70 * 4] ^= 1;
  const auto all = DirtyRegion::of({whole(*frame)});
  for (const auto& [pixels, hints] : std::vector<std::pair<SharedPixels, DirtyRegion>>{
           {frame, all}, {copyOf(*frame), all}, {changed, all}, {copyOf(*changed), all}}) {
    inner.emitFrame(pixels, hints);
  }
  ASSERT_EQ(passed.size(), 2u);
  EXPECT_EQ(passed[0].changes, DirtyRegion::unknown());
  EXPECT_EQ(passed[1].pixels, changed);
  EXPECT_EQ(passed[1].display, 3u);
  EXPECT_EQ(passed[1].changes, DirtyRegion::of({{64, 0, 64, 64}}));
  inner.platformStop(1, CaptureError::displayLost());
  EXPECT_EQ(stops, (std::vector<std::optional<CaptureError>>{CaptureError::displayLost()}));
}

class ScreenCapturerTest : public ::testing::Test {
 protected:
  ScreenCapturerTest() {
    capturer.onStop = [this](auto error) { log.push_back("onStop " + error->description); };
  }
  // Enqueues the operation, its result logged under the name, and runs what is due.
  void run(ScreenCapturer::Operation operation, const std::string& name = "op") {
    capturer.enqueue(operation,
                     [this, name](auto error) { log.push_back(name + ": " + (error ? error->description : "ok")); });
    main.runUntilIdle();
  }

  ManualExecutor main;
  testing::FakeCaptureSource source{main};
  ScreenCapturer capturer{main, source};
  Calls log;
};

TEST_F(ScreenCapturerTest, OperationsRunOneAtATimeInOrderAndFailuresDoNotStopTheChain) {
  ScreenCapturer::Completion heldFirst;
  capturer.enqueue([&](auto done) { log.push_back("first"), heldFirst = std::move(done); });
  capturer.enqueue([&](auto done) { log.push_back("second"), done(CaptureError::platform("boom")); },
                   [&](auto error) { log.push_back("second: " + error->description); });
  run([&](auto done) { log.push_back("third"), done(std::nullopt); }, "third");
  EXPECT_EQ(log, Calls{"first"});  // the others wait for the first, however long it takes
  EXPECT_EQ(capturer.pendingOperations(), 3);
  heldFirst(std::nullopt);
  main.runUntilIdle();
  EXPECT_EQ(log, (Calls{"first", "second", "second: boom", "third", "third: ok"}));
  EXPECT_EQ(capturer.pendingOperations(), 0);
}

TEST_F(ScreenCapturerTest, StreamsFollowTheOperationsAndOnlyStopsNobodyAskedForAreNews) {
  source.displays = {{7, "left", 1920, 1080, false, 1.0}, {9, "right", 2880, 1800, true, 2.0}};
  source.reportRequestedStops = true;
  run(capturer.updateFilter(), "idle filter");
  capturer.enqueue(capturer.start(42));  // missing: the first display instead
  run(capturer.start(9), "restart");
  EXPECT_EQ(capturer.displayID(), 9u);
  EXPECT_EQ(capturer.pointScale(), 2.0);
  // The old stream's end arriving late, or any stop while an operation waits, is not news.
  source.platformStop(1, CaptureError::platform("old"));
  main.runUntilIdle();
  capturer.enqueue(capturer.updateFilter());
  source.platformStop(2, CaptureError::platform("during"));
  main.runUntilIdle();
  EXPECT_TRUE(capturer.streaming());
  source.filterError = CaptureError::platform("refused");
  run(capturer.updateFilter(), "filter");
  source.displays.pop_back();  // display 9 unplugged
  run(capturer.updateFilter(), "unplugged");
  source.platformStop(2, CaptureError::platform("X server gone"));
  main.runUntilIdle();
  EXPECT_FALSE(capturer.streaming());
  run(capturer.stop(), "stop");  // nothing left to stop
  run(capturer.start(7));
  source.startError = CaptureError::platform("denied");
  run(capturer.start(7), "refused");
  EXPECT_FALSE(source.streamingOn);  // the old stream was stopped first
  source.startError.reset();
  source.displays.clear();
  run(capturer.start(7), "none");
  source.listError = CaptureError::noPermission();
  run(capturer.start(7), "unlisted");
  EXPECT_FALSE(capturer.streaming());
  EXPECT_EQ(log, (Calls{"idle filter: ok", "restart: ok", "filter: refused", "unplugged: ok", "onStop X server gone",
                        "stop: ok", "op: ok", "refused: denied", "none: キャプチャできるディスプレイがありません",
                        "unlisted: 画面収録の許可が必要です"}));
  EXPECT_EQ(source.calls, (Calls{"list", "start 7", "stop", "list", "start 9", "list", "filter", "list", "filter",
                                 "list", "list", "start 7", "stop", "list", "start 7", "list", "list"}));
}

TEST_F(ScreenCapturerTest, DisplaysNameTheNamelessAndPickThePrimaryAsMain) {
  source.displays = {{5, "", 800, 600, false, 1.0}, {6, "HDMI-1", 1920, 1080, true, 1.0}};
  std::vector<ScreenCapturer::DisplayListing> listings;
  for (const bool primary : {true, false}) {
    source.displays[1].primary = primary;
    capturer.displays([&](auto, auto listing) { listings.push_back(listing); });
    main.runUntilIdle();
  }
  ASSERT_EQ(listings.size(), 2u);
  EXPECT_EQ(listings[0].displays,
            (std::vector<DisplayInfo>{{5, "ディスプレイ 5", 800, 600}, {6, "HDMI-1", 1920, 1080}}));
  EXPECT_EQ(listings[0].mainDisplay, 6u);
  EXPECT_EQ(listings[1].mainDisplay, 5u);
}

constexpr int64_t unlimited = int64_t{1} << 62;

Rect rounded(Rect r) {
  for (double* v : {&r.x, &r.y, &r.width, &r.height}) *v = std::round(*v * 1e9) / 1e9;
  return r;
}
// Sizes are checked with independent decoders in tests/integration/capture.
class FrameEncoderTest : public ::testing::Test {
 protected:
  FrameEncoder encoder;
  std::shared_ptr<PixelBuffer> frame = testing::desktopLikeFrame(2000, 1000);
  const Rect whole{0, 0, 2000, 1000};
};

TEST_F(FrameEncoderTest, LayersCoverTheirRegionInWholePixelsAndPatchesMatchTheLayer) {
  for (auto [region, encoded] : std::initializer_list<std::pair<std::optional<Rect>, Rect>>{
           {std::nullopt, {0, 0, 1, 1}},
           {Rect{0.25, 0.25, 0.5, 0.5}, {0.25, 0.25, 0.5, 0.5}},
           {Rect{0.10005, 0.2011, 0.3, 0.4}, {0.1, 0.201, 0.3005, 0.401}},  // pixels 200.1 .. 800.1, 201.1 .. 601.1
           {Rect{0.9, -0.5, 0.5, 1.0}, {0.9, 0, 0.1, 0.5}}}) {
    EXPECT_EQ(rounded(encoder.encode(*frame, region, 6000, 6000, 0.8)->normalizedRect), rounded(encoded));
  }
  // Same filter phases as the layer: only JPEG's own losses tell them apart.
  const auto layer = testing::decodeJpeg(encoder.encode(*frame, std::nullopt, 1000, unlimited, 0.8)->jpeg);
  const auto patch = testing::decodeJpeg(*encoder.encodePatch(*frame, whole, 1000, 500, {96, 48, 64, 64}, 0.8));
  ASSERT_TRUE(layer && layer->width == 1000 && patch && patch->width == 64 && patch->height == 64);
  std::vector<uint8_t> fromLayer;
  for (int y = 48; y < 112; ++y)
    fromLayer.insert(fromLayer.end(), &layer->rgb[(y * 1000 + 96) * 3], &layer->rgb[(y * 1000 + 160) * 3]);
  EXPECT_GT(testing::psnr(fromLayer.data(), patch->rgb.data(), 64 * 64, 3), 33);
  // At scale one a patch is a crop of the frame.
  EXPECT_EQ(*encoder.encodePatch(*frame, {186, 93, 400, 300}, 400, 300, {64, 32, 125, 125}, 0.8),
            encoder.encode(*frame, Rect{0.125, 0.125, 0.0625, 0.125}, 6000, 6000, 0.8)->jpeg);
}

TEST_F(FrameEncoderTest, JpegsHaveTheQualityAskedForAndAReusedWriterGivesTheBytesOfAFreshOne) {
  JpegWriter writer;
  for (const int quality : {72, 80}) {
    EXPECT_EQ(encoder.encode(*frame, std::nullopt, 2000, unlimited, quality / 100.0)->jpeg,
              writer.writeBgra(frame->data(), frame->bytesPerRow(), 2000, 1000, quality));
  }
  // Small images get optimised Huffman tables, large ones the standard ones: neither may leak
  // into the next image.
  for (const int size : {100, 400, 64, 300}) {
    EXPECT_EQ(writer.writeBgra(frame->data(), frame->bytesPerRow(), size, size * 3 / 4, 80),
              JpegWriter().writeBgra(frame->data(), frame->bytesPerRow(), size, size * 3 / 4, 80))
        << size;
  }
}

TEST_F(FrameEncoderTest, ColoursSurviveBothPaths) {
  // A crop inside the frame goes to libjpeg as BGRA; one overhanging the frame goes through
  // the resampler and our own YCbCr conversion.
  auto direct = testing::decodeJpeg(*encoder.encodePatch(*frame, whole, 2000, 1000, {1680, 800, 320, 200}, 0.8));
  auto converted = testing::decodeJpeg(*encoder.encodePatch(*frame, whole, 2000, 1000, {1680, 800, 336, 200}, 0.8));
  ASSERT_TRUE(direct && converted && converted->width == 336);
  std::vector<uint8_t> original, inFrame;
  for (int y = 0; y < 200; ++y) {
    for (const uint8_t* p = frame->row(800 + y) + 1680 * 4; p < frame->row(800 + y) + 8000; p += 4)
      original.insert(original.end(), {p[2], p[1], p[0]});
    inFrame.insert(inFrame.end(), &converted->rgb[y * 336 * 3], &converted->rgb[(y * 336 + 320) * 3]);
  }
  const double libjpegQuality = testing::psnr(original.data(), direct->rgb.data(), 320 * 200, 3);
  EXPECT_GT(libjpegQuality, 30);
  EXPECT_GT(testing::psnr(original.data(), inFrame.data(), 320 * 200, 3), libjpegQuality - 1);
}

// Non-finite and huge coordinates and qualities are the fuzzer's.
TEST_F(FrameEncoderTest, UnusableInputGivesNoImage) {
  for (const Rect& region : {Rect{1.2, 0, 0.5, 0.5}, {1.0, 0, 0.5, 0.5}, {0.5, 0.5, 0, 0}}) {
    EXPECT_FALSE(encoder.encode(*frame, region, 100, 100, 0.8)) << region;
  }
  EXPECT_FALSE(encoder.encode(*frame, std::nullopt, 0, 100, 0.8));
  EXPECT_FALSE(encoder.encode(*PixelBuffer::allocate(64, 64, 0, PixelFormat::other), std::nullopt, 100, 100, 0.8));
  EXPECT_FALSE(encoder.encode(PixelBuffer(PixelFormat::bgra, 64, 64, 256, nullptr), std::nullopt, 100, 100, 0.8));
  EXPECT_FALSE(encoder.encode(*PixelBuffer::allocate(70000, 1), std::nullopt, unlimited, unlimited, 0.8));
  for (auto [layer, width, patch] :
       std::initializer_list<std::tuple<Rect, int, Rect>>{{{0, 0, 64, 64}, 32, {10, 10, 0.9, 20}},
                                                          {{0, 0, 64, 64}, 32, {10, 10, 20, 0.5}},
                                                          {{0, 0, 64, 64}, 32, {10, 10, -20, 5}},
                                                          {{0, 0, 64, 64}, 32, {0, 0, 1e9, 8}},
                                                          {{0, 0, 0, 64}, 32, {0, 0, 8, 8}},
                                                          {{0, 0, 64, 64}, 0, {0, 0, 8, 8}}}) {
    EXPECT_FALSE(encoder.encodePatch(*frame, layer, width, 32, patch, 0.8)) << layer << patch;
  }
  EXPECT_TRUE(encoder.encode(*frame, std::nullopt, 32, 32, 0.8));
}

std::vector<uint8_t> resampled(const PixelBuffer& frame, double x, double y, double scaleX, double scaleY, int width,
                               int height, const ResampleKernels& kernels = ResampleKernels::forThisCpu()) {
  LanczosResampler resampler(kernels);
  resampler.configure(frame, x, y, scaleX, scaleY, width, height);
  std::vector<uint8_t> out(size_t(width) * height * 4);
  for (int row = 0; row < height; ++row) resampler.resampleRow(row, &out[size_t(row) * width * 4]);
  return out;
}

TEST(ResampleKernels, VectorKernelsGiveTheBytesOfThePortableOnesAndGreysStayNeutral) {
  std::mt19937 random(3);
  auto frame = testing::desktopLikeFrame(301, 203, 5, 12);
  for (int round = 0; round < 25; ++round) {
    const double scaleX = 0.05 + random() % 1000 / 1000.0, scaleY = 0.05 + random() % 1000 / 1000.0;
    const double x = int(random() % 300) - 20 + random() % 4 * 0.25, y = int(random() % 200) - 20;
    const int w = 1 + random() % 160, h = 1 + random() % 90;
    ASSERT_EQ(resampled(*frame, x, y, scaleX, scaleY, w, h),
              resampled(*frame, x, y, scaleX, scaleY, w, h, ResampleKernels::portable()))
        << scaleX << " " << scaleY << " " << x << " " << y;
  }
  constexpr int width = 48;  // greys, black and white first, then noise
  std::vector<uint8_t> rows(width * 8);
  for (int i = 0; i < width * 8; ++i)
    rows[i] = i % (width * 4) < 32 ? (i % 192 < 4 ? 0 : i % 192 < 8 ? 255 : i % 192 / 4 * 30) : random();
  auto convert = [&](const ResampleKernels& kernels) {
    std::vector<uint8_t> planes(width * 3);
    kernels.toYcc420(&rows[0], &rows[width * 4], width, &planes[0], &planes[width], &planes[2 * width],
                     &planes[2 * width + width / 2]);
    return planes;
  };
  const auto portable = convert(ResampleKernels::portable());
  EXPECT_EQ(convert(ResampleKernels::forThisCpu()), portable);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(portable[x], rows[x * 4]) << x;
  for (int x = 0; x < 4; ++x) EXPECT_EQ(portable[2 * width + x], 128) << x;
  for (int x = 0; x < 4; ++x) EXPECT_EQ(portable[2 * width + width / 2 + x], 128) << x;
}

TEST(LanczosResampler, ScaleOneOnWholePixelsCopiesAndRepeatsTheEdges) {
  auto frame = testing::desktopLikeFrame(120, 80, 2);
  const auto out = resampled(*frame, -3, 70, 1, 1, 40, 20);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 40; ++x) {
      const uint8_t* expected = frame->row(std::min(70 + y, 79)) + std::max(x - 3, 0) * 4;
      ASSERT_EQ(std::memcmp(&out[(y * 40 + x) * 4], expected, 3), 0) << x << "," << y;
    }
  }
}

TEST(LanczosResampler, DownscalingFiltersOutDetailFinerThanTheOutputGridAndKeepsFlatAreasExact) {
  // One-pixel stripes cannot be shown at 0.4 times their size: they must become grey (a kernel
  // not widened for the scale would alias them), along the scaled axis only.
  for (const bool vertical : {true, false}) {
    auto stripes = PixelBuffer::allocate(200, 200);
    for (int i = 0; i < 200 * 200; ++i)
      std::memset(stripes->mutableData() + i * 4, (vertical ? i : i / 200) % 2 * 255, 4);
    const int along = vertical ? 80 : 200, across = vertical ? 200 : 80;  // output width and height
    const auto grey = resampled(*stripes, 0, 0, along / 200.0, across / 200.0, along, across);
    for (int y = 10; y < across - 10; ++y) {
      for (int x = 10; x < along - 10; ++x) ASSERT_NEAR(grey[(y * along + x) * 4 + 1], 128, 2) << x << "," << y;
    }
    const auto kept = resampled(*stripes, 0, 0, across / 200.0, along / 200.0, across, along);
    EXPECT_EQ(kept[(50 * across + 51) * 4], vertical ? 255 : 0);
    EXPECT_EQ(kept[(51 * across + 50) * 4], vertical ? 0 : 255);
  }
  auto flat = PixelBuffer::allocate(90, 70);
  for (int i = 0; i < 90 * 70; ++i) std::memcpy(flat->mutableData() + i * 4, "\x10\x80\xf0\xff", 4);
  const auto out = resampled(*flat, 3.3, 1.7, 0.41, 0.77, 33, 49);
  for (size_t i = 0; i < out.size(); i += 4) ASSERT_EQ(std::memcmp(&out[i], "\x10\x80\xf0", 3), 0) << i / 4;
}

}  // namespace
}  // namespace vistaro
