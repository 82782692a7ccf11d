#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <random>

#include "capture/change_detecting_source.h"
#include "capture/frame_encoder.h"
#include "capture/screen_capturer.h"
#include "client/jpeg_image.h"
#include "core/manual_executor.h"
#include "fakes/capture/fake_capture_source.h"
#include "fakes/capture/test_images.h"

namespace vistaro {
namespace {

using Calls = std::vector<std::string>;
constexpr int64_t unlimited = int64_t{1} << 62;

std::shared_ptr<PixelBuffer> copyOf(const PixelBuffer& frame) {
  auto copy = PixelBuffer::allocate(frame.width(), frame.height(), frame.bytesPerRow());
  std::memcpy(copy->mutableData(), frame.data(), frame.bytesPerRow() * frame.height());
  return copy;
}
Rect whole(const PixelBuffer& frame) { return {0, 0, double(frame.width()), double(frame.height())}; }

// Random frames and hints through the source against a tile-by-tile model (each changed tile
// reported as the bounds of its changed pixels): edge tiles cut to
// odd sizes, noise in row padding, overlapping, fractional and outlying rectangles, unknown
// hints (the whole frame becomes history), changes outside every rectangle that wait until one
// covers them, frames of another size or display (a fresh history), and unusable frames (their
// hints passed through, the history kept). A frame without a change is not passed on.
TEST(ChangeDetectingSource, AgreesWithATileByTileModel) {
  std::mt19937 random(7);
  static uint8_t byte;
  const std::shared_ptr<uint8_t> unreadable(std::shared_ptr<void>(), &byte);
  const SharedPixels unusable[] = {
      nullptr, PixelBuffer::allocate(64, 64, 0, PixelFormat::other), PixelBuffer::allocate(64, 64, 200),
      std::make_shared<const PixelBuffer>(PixelFormat::bgra, 64, 64, 256, nullptr),
      std::make_shared<const PixelBuffer>(PixelFormat::bgra, INT_MAX, INT_MAX, INT_MAX * 4ul, unreadable),
      std::make_shared<const PixelBuffer>(PixelFormat::bgra, 64, 64, 1ul << 62, unreadable)};
  ManualExecutor main;
  testing::FakeCaptureSource inner{main};
  ChangeDetectingSource source{inner};
  std::optional<DirtyRegion> passed;
  source.startStream(1, [&](CapturedFrame frame) { passed = frame.changes; }, [](auto) {}, [](auto) {});
  main.runUntilIdle();
  const auto detect = [&](SharedPixels pixels, DisplayID display, DirtyRegion hints) {
    return passed.reset(), inner.emitFrame(std::move(pixels), std::move(hints), display), passed;
  };
  const auto passedOn = [](DirtyRegion r) { return r.empty() ? std::nullopt : std::optional(r); };
  std::shared_ptr<PixelBuffer> frame, model;
  DisplayID display = 1;
  const auto edgy = [&](int n) {  // often a tile's first or last row or column
    return random() % 2 ? int(random() % n) : std::min<int>(n - 1, random() % (n / 64 + 1) * 64 + random() % 2 * 63);
  };
  for (int step = 0; step < 400; ++step) {
    if (step % 6 == 0) {
      const int width = 1 + random() % 400, height = 1 + random() % 200, padding = step % 24 ? 32 : 0;
      frame = step % 12 ? (++display, copyOf(*frame)) : testing::desktopLikeFrame(width, height, step, padding);
      ASSERT_EQ(detect(frame, display, DirtyRegion::of({whole(*frame)})), DirtyRegion::unknown());
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
      ASSERT_EQ(detect(unusable[random() % 6], display, given), passedOn(given));
      continue;
    }
    auto next = copyOf(*frame);
    for (int n = random() % 8; n > 0; --n) next->mutableRow(edgy(h))[edgy(w) * 4 + 1] ^= 0x5a;
    for (int y = 0; y < h && padding; ++y) next->mutableRow(y)[w * 4 + random() % padding] ^= 0xff;
    const int columns = (w + 63) / 64;
    std::vector<char> visited(columns * ((h + 63) / 64));
    for (const Rect& r : unknown ? std::vector<Rect>{whole(*frame)} : hints) {
      const auto c = whole(*frame).intersection(r);
      if (!c || c->isEmpty()) continue;
      for (int ty = int(c->minY()) / 64; ty <= (int(std::ceil(c->maxY())) - 1) / 64; ++ty)
        for (int tx = int(c->minX()) / 64; tx <= (int(std::ceil(c->maxX())) - 1) / 64; ++tx) {
          if (std::exchange(visited[ty * columns + tx], 1)) continue;
          const int tw = std::min(64, w - tx * 64), th = std::min(64, h - ty * 64);
          int x0 = INT_MAX, y0 = INT_MAX, x1 = -1, y1 = -1;  // the changed pixels' bounds
          for (int y = ty * 64; y < ty * 64 + th; ++y) {
            for (int x = tx * 64; x < tx * 64 + tw; ++x) {
              if (std::memcmp(next->row(y) + x * 4, model->row(y) + x * 4, 4) == 0) continue;
              x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
            std::memcpy(model->mutableRow(y) + tx * 256, next->row(y) + tx * 256, tw * 4);
          }
          if (x1 >= 0) expected.push_back({double(x0), double(y0), double(x1 - x0 + 1), double(y1 - y0 + 1)});
        }
    }
    ASSERT_EQ(detect(next, display, given), passedOn(unknown ? given : DirtyRegion::of(expected)))
        << w << "x" << h << " step " << step;
    frame = next;
  }
}

TEST(ScreenCapturer, StreamsFollowTheOperationsAndOnlyStopsNobodyAskedForAreNews) {
  ManualExecutor main;
  testing::FakeCaptureSource source{main};
  ScreenCapturer capturer{main, source};
  Calls log;
  const auto run = [&](ScreenCapturer::Operation operation, const std::string& name) {  // logged under the name
    capturer.enqueue(operation, [&, name](auto e) { log.push_back(name + ": " + (e ? e->description : "ok")); });
    main.runUntilIdle();
  };
  source.displays = {{7, "", 1920, 1080, false, 1.0}, {9, "right", 2880, 1800, true, 2.0}};
  source.reportRequestedStops = true;
  capturer.onStop = [&](auto error) { log.push_back("onStop " + error->description); };
  capturer.displays([&](auto, auto listing) {  // the primary is the main display, not the first
    EXPECT_EQ(std::tuple(listing.displays, listing.mainDisplay),
              std::tuple(std::vector<DisplayInfo>{{7, "ディスプレイ 7", 1920, 1080}, {9, "right", 2880, 1800}}, 9u));
  });
  capturer.enqueue(capturer.start(42));  // missing: the first display instead
  run(capturer.start(9), "restart");
  EXPECT_EQ(std::tuple(capturer.displayID(), capturer.pointScale()), std::tuple(9u, 2.0));
  // The old stream's end arriving late, or any stop while an operation waits, is not news.
  source.platformStop(1, CaptureError::platform("old"));
  main.runUntilIdle();
  capturer.enqueue(capturer.updateFilter());
  source.platformStop(2, CaptureError::platform("during"));
  main.runUntilIdle();
  EXPECT_TRUE(capturer.streaming());
  source.filterError = CaptureError::platform("refused");
  run(capturer.updateFilter(), "filter");
  source.platformStop(2, CaptureError::platform("X server gone"));
  main.runUntilIdle();
  EXPECT_FALSE(capturer.streaming());
  source.displays.clear();
  run(capturer.start(7), "none");
  EXPECT_FALSE(capturer.streaming());
  EXPECT_EQ(log, (Calls{"restart: ok", "filter: refused", "onStop X server gone",
                        "none: キャプチャできるディスプレイがありません"}));
  EXPECT_EQ(source.calls,
            (Calls{"list", "list", "start 7", "stop", "list", "start 9", "list", "filter", "list", "filter", "list"}));
}

// Sizes are checked with independent decoders in tests/integration/capture.
TEST(FrameEncoder, LayersCoverTheirRegionInWholePixelsAtTheQualityAskedFor) {
  FrameEncoder encoder;
  const auto frame = testing::desktopLikeFrame(2000, 1000);
  const auto rounded = [](Rect r) {
    for (double* v : {&r.x, &r.y, &r.width, &r.height}) *v = std::round(*v * 1e9) / 1e9;
    return r;
  };
  for (auto [region, encoded] : std::initializer_list<std::pair<std::optional<Rect>, std::optional<Rect>>>{
           {Rect{0.10005, 0.2011, 0.3, 0.4}, Rect{0.1, 0.201, 0.3005, 0.401}},  // pixels 200.1 .. 800.1, 201.1 .. 601.1
           {Rect{0.9, -0.5, 0.5, 1.0}, Rect{0.9, 0, 0.1, 0.5}},
           {Rect{1.0, 0, 0.5, 0.5}, std::nullopt}}) {
    const auto layer = encoder.encode(*frame, region, 6000, 6000, 0.8);
    EXPECT_EQ(layer ? std::optional(rounded(layer->normalizedRect)) : std::nullopt, encoded);
  }
  // At scale one a patch is a crop of the frame (tagged more briefly).
  const auto patch =
      client::decodeJpeg(*encoder.encodePatch(*frame, {186, 93, 400, 300}, 400, 300, {64, 32, 125, 125}, 0.8));
  const auto crop =
      client::decodeJpeg(encoder.encode(*frame, Rect{0.125, 0.125, 0.0625, 0.125}, 6000, 6000, 0.8)->jpeg);
  ASSERT_TRUE(patch && crop);
  EXPECT_EQ(patch->rgb, crop->rgb);
  for (const int quality : {72, 80}) {
    EXPECT_EQ(encoder.encode(*frame, std::nullopt, 2000, unlimited, quality / 100.0)->jpeg,
              JpegWriter().writeBgra(frame->data(), frame->bytesPerRow(), 2000, 1000, quality, SrgbTag::iccProfile));
  }
}

TEST(FrameEncoder, OurColourConversionAgreesWithLibjpegs) {
  FrameEncoder encoder;
  const auto frame = testing::desktopLikeFrame(2000, 1000);
  // A crop inside the frame goes to libjpeg as BGRA; one overhanging the frame goes through
  // the resampler and our own YCbCr conversion.
  const auto patch = [&](double w) {
    return client::decodeJpeg(*encoder.encodePatch(*frame, {0, 0, 2000, 1000}, 2000, 1000, {1680, 800, w, 200}, 0.8));
  };
  const auto direct = patch(320), converted = patch(336);
  ASSERT_TRUE(direct && converted && converted->width == 336);
  std::vector<uint8_t> inFrame;
  for (int y = 0; y < 200; ++y)
    inFrame.insert(inFrame.end(), &converted->rgb[y * 336 * 3], &converted->rgb[(y * 336 + 320) * 3]);
  // 54.5 dB when written: a conversion off by one level in luma or chroma falls below 50.
  EXPECT_GT(testing::psnr(direct->rgb.data(), inFrame.data(), 320 * 200, 3), 50);
}

std::vector<uint8_t> resampled(const PixelBuffer& frame, double x, double y, double scaleX, double scaleY, int width,
                               int height, const ResampleKernels& kernels = ResampleKernels::forThisCpu()) {
  LanczosResampler resampler(kernels);
  resampler.configure(frame, x, y, scaleX, scaleY, width, height);
  std::vector<uint8_t> out(size_t(width) * height * 4);
  for (int row = 0; row < height; ++row) resampler.resampleRow(row, &out[size_t(row) * width * 4]);
  return out;
}

// How close the filter is to a real Lanczos is ImageMagick's to judge, in tests/integration/capture.
TEST(ResampleKernels, VectorKernelsGiveTheBytesOfThePortableOnesAndFlatAreasStayExact) {
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
  auto flat = PixelBuffer::allocate(90, 70);
  for (int i = 0; i < 90 * 70; ++i) std::memcpy(flat->mutableData() + i * 4, "\x10\x80\xf0\xff", 4);
  const auto out = resampled(*flat, 3.3, 1.7, 0.41, 0.77, 33, 49);
  for (size_t i = 0; i < out.size(); i += 4) ASSERT_EQ(std::memcmp(&out[i], "\x10\x80\xf0", 3), 0) << i / 4;
  std::vector<uint8_t> rows(48 * 4 * 2);  // two rows of 48 pixels
  for (uint8_t& byte : rows) byte = random();
  const auto convert = [&](const ResampleKernels& kernels) {
    std::vector<uint8_t> planes(48 * 3);  // Y, Y, Cb, Cr
    kernels.toYcc420(&rows[0], &rows[192], 48, &planes[0], &planes[48], &planes[96], &planes[120]);
    return planes;
  };
  EXPECT_EQ(convert(ResampleKernels::forThisCpu()), convert(ResampleKernels::portable()));
}

}  // namespace
}  // namespace vistaro
