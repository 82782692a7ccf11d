// The capture-and-encode hot path against references measured in the same run:
// memcmp for change detection, libswscale's Lanczos for the resampler,
// libjpeg-turbo alone for the encoder. Frames are cycled through many buffers
// so that, as in real capture, they are not in cache.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>
extern "C" {
#include <libswscale/swscale.h>
}

#include "capture/change_detector.h"
#include "capture/frame_encoder.h"
#include "capture/resampled_strips.h"
#include "fakes/capture/test_images.h"
#include "ratio_reporter.h"

namespace vistaro::bench {
namespace {

constexpr int64_t unlimited = int64_t{1} << 62;
constexpr int framesPerContent = 40;

// Even frames show one desktop, odd frames another: frame i and i + 2 are equal, i and i + 1 differ everywhere.
class FramePool {
 public:
  static FramePool& of(int width, int height) {
    static std::map<std::pair<int, int>, std::unique_ptr<FramePool>> pools;
    auto& pool = pools[{width, height}];
    if (!pool) pool.reset(new FramePool(width, height));
    return *pool;
  }
  const SharedPixels& frame(size_t i) const { return frames_[i % frames_.size()]; }
  size_t size() const { return frames_.size(); }

 private:
  FramePool(int width, int height) {
    const std::shared_ptr<const PixelBuffer> contents[2] = {testing::desktopLikeFrame(width, height, 1),
                                                            testing::desktopLikeFrame(width, height, 2)};
    for (int i = 0; i < 2 * framesPerContent; ++i) {
      auto frame = PixelBuffer::allocate(width, height);
      std::memcpy(frame->mutableData(), contents[i % 2]->data(), frame->bytesPerRow() * size_t(height));
      frames_.push_back(frame);
    }
  }
  std::vector<SharedPixels> frames_;
};

void memcmpTwoFrames(benchmark::State& state) {
  const FramePool& pool = FramePool::of(int(state.range(0)), int(state.range(1)));
  const size_t bytes = pool.frame(0)->bytesPerRow() * size_t(pool.frame(0)->height());
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::memcmp(pool.frame(i)->data(), pool.frame(i + 2)->data(), bytes));
    i += 2;
  }
}

void detectChangesAllTilesEqual(benchmark::State& state) {
  const FramePool& pool = FramePool::of(int(state.range(0)), int(state.range(1)));
  const std::vector<Rect> wholeScreen{{0, 0, double(state.range(0)), double(state.range(1))}};
  ChangeDetector detector;
  detector.detectChanges({pool.frame(0), 1});
  size_t i = 2;
  for (auto _ : state) {
    benchmark::DoNotOptimize(detector.detectChanges({pool.frame(i), 1, 1.0, DirtyRegion::of(wholeScreen)}));
    i += 2;
  }
}

void swscaleLanczosToYuv(benchmark::State& state) {
  const int width = int(state.range(0)), height = int(state.range(1));
  const int outWidth = int(state.range(2)), outHeight = int(state.range(3));
  const FramePool& pool = FramePool::of(width, height);
  SwsContext* context = sws_getContext(width, height, AV_PIX_FMT_BGRA, outWidth, outHeight, AV_PIX_FMT_YUVJ420P,
                                       SWS_LANCZOS, nullptr, nullptr, nullptr);
  std::vector<uint8_t> planes[3] = {std::vector<uint8_t>(size_t(outWidth) * outHeight),
                                    std::vector<uint8_t>(size_t(outWidth) * outHeight / 2),
                                    std::vector<uint8_t>(size_t(outWidth) * outHeight / 2)};
  uint8_t* destination[4] = {planes[0].data(), planes[1].data(), planes[2].data(), nullptr};
  const int destinationStrides[4] = {outWidth, (outWidth + 1) / 2, (outWidth + 1) / 2, 0};
  size_t i = 0;
  for (auto _ : state) {
    const uint8_t* source[4] = {pool.frame(i++)->data(), nullptr, nullptr, nullptr};
    const int sourceStrides[4] = {width * 4, 0, 0, 0};
    sws_scale(context, source, sourceStrides, 0, height, destination, destinationStrides);
    benchmark::ClobberMemory();
  }
  sws_freeContext(context);
}

void resampleToYcc(benchmark::State& state) {
  const int outWidth = int(state.range(2)), outHeight = int(state.range(3));
  const FramePool& pool = FramePool::of(int(state.range(0)), int(state.range(1)));
  LanczosResampler resampler;
  ResampledStrips strips(resampler);
  YccStrip strip{};
  strip.paddedWidth = (outWidth + 15) / 16 * 16;
  std::vector<uint8_t> planes(size_t(strip.paddedWidth) * 32);
  for (int r = 0; r < 16; ++r) strip.luma[r] = &planes[size_t(r * strip.paddedWidth)];
  for (int r = 0; r < 8; ++r) {
    strip.cb[r] = &planes[size_t((16 + r) * strip.paddedWidth)];
    strip.cr[r] = &planes[size_t((24 + r) * strip.paddedWidth)];
  }
  const double scale = double(outWidth) / double(state.range(0));
  size_t i = 0;
  for (auto _ : state) {
    resampler.configure(*pool.frame(i++), 0, 0, scale, scale, outWidth, outHeight);
    for (int row = 0; row < outHeight; row += 16) strips.fillStrip(row, strip);
    benchmark::ClobberMemory();
  }
}

void libjpegAlone(benchmark::State& state) {
  const FramePool& pool = FramePool::of(int(state.range(0)), int(state.range(1)));
  JpegWriter writer;
  size_t i = 0, bytes = 0;
  for (auto _ : state) {
    const SharedPixels& frame = pool.frame(i++);
    bytes =
        writer
            .writeBgra(frame->data(), frame->bytesPerRow(), frame->width(), frame->height(), int(state.range(2)),
                       SrgbTag::iccProfile)
            ->size();
  }
  state.counters["bytes"] = double(bytes);
}

void baseLayer(benchmark::State& state) {
  const FramePool& pool = FramePool::of(int(state.range(0)), int(state.range(1)));
  FrameEncoder encoder;
  size_t i = 0, bytes = 0;
  for (auto _ : state) bytes = encoder.encode(*pool.frame(i++), std::nullopt, 1440, unlimited, 0.72)->jpeg.size();
  state.counters["bytes"] = double(bytes);
}

// The viewport is the middle quarter of the screen, shown at full resolution.
void detailLayer(benchmark::State& state) {
  const FramePool& pool = FramePool::of(int(state.range(0)), int(state.range(1)));
  FrameEncoder encoder;
  size_t i = 0, bytes = 0;
  for (auto _ : state)
    bytes = encoder.encode(*pool.frame(i++), Rect{0.25, 0.25, 0.5, 0.5}, 6000, 6000, 0.8)->jpeg.size();
  state.counters["bytes"] = double(bytes);
}

// What a typing or scrolling update sends: eight base-layer patches, from
// single tiles to a coalesced text line.
void eightBasePatches(benchmark::State& state) {
  const int width = int(state.range(0)), height = int(state.range(1));
  const FramePool& pool = FramePool::of(width, height);
  const double scale = 1440.0 / width;
  const int baseWidth = 1440, baseHeight = int(height * scale);
  const Rect whole{0, 0, double(width), double(height)};
  const Rect patches[8] = {{0, 0, 32, 32},     {32, 0, 32, 32},     {640, 320, 32, 32}, {672, 320, 32, 32},
                           {100, 200, 96, 32}, {400, 500, 160, 48}, {800, 100, 64, 64}, {1000, 400, 200, 100}};
  FrameEncoder encoder;
  size_t i = 0, bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    const SharedPixels& frame = pool.frame(i++);
    for (const Rect& patch : patches) {
      bytes += encoder.encodePatch(*frame, whole, baseWidth, baseHeight, patch, 0.72)->size();
    }
  }
  state.counters["bytes"] = double(bytes);
}

// Every tile changed: detection finds and copies all of them, then the base
// layer and a full-resolution detail layer are encoded.
void fullChangeFrame(benchmark::State& state) {
  const FramePool& pool = FramePool::of(int(state.range(0)), int(state.range(1)));
  const std::vector<Rect> wholeScreen{{0, 0, double(state.range(0)), double(state.range(1))}};
  ChangeDetector detector;
  FrameEncoder encoder;
  detector.detectChanges({pool.frame(0), 1});
  size_t i = 1;
  for (auto _ : state) {
    const SharedPixels& frame = pool.frame(i++);
    benchmark::DoNotOptimize(detector.detectChanges({frame, 1, 1.0, DirtyRegion::of(wholeScreen)}));
    benchmark::DoNotOptimize(encoder.encode(*frame, std::nullopt, 1440, unlimited, 0.72));
    benchmark::DoNotOptimize(encoder.encode(*frame, Rect{0.25, 0.25, 0.5, 0.5}, 6000, 6000, 0.8));
  }
}

BENCHMARK(memcmpTwoFrames)->Args({2880, 1800})->Unit(benchmark::kMillisecond);
BENCHMARK(detectChangesAllTilesEqual)->Args({2880, 1800})->Unit(benchmark::kMillisecond);
BENCHMARK(swscaleLanczosToYuv)
    ->Args({2880, 1800, 1440, 900})
    ->Args({2880, 1800, 1179, 737})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(resampleToYcc)
    ->Args({2880, 1800, 1440, 900})
    ->Args({2880, 1800, 1179, 737})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(libjpegAlone)->Args({1440, 900, 72})->Args({2880, 1800, 80})->Unit(benchmark::kMillisecond);
BENCHMARK(baseLayer)->Args({2880, 1800})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(detailLayer)->Args({2880, 1800})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(eightBasePatches)->Args({2880, 1800})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(fullChangeFrame)->Args({2880, 1800})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vistaro::bench

int main(int argc, char** argv) {
  using vistaro::bench::RatioReporter;
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter({
      {"change detection, all tiles equal vs memcmp", "memcmpTwoFrames/2880/1800",
       "detectChangesAllTilesEqual/2880/1800", 0.8},
      {"resample 2880x1800 -> 1440x900 vs swscale Lanczos YUVJ420P", "swscaleLanczosToYuv/2880/1800/1440/900",
       "resampleToYcc/2880/1800/1440/900", 2.0},
      {"resample 2880x1800 -> 1179x737 vs swscale Lanczos YUVJ420P", "swscaleLanczosToYuv/2880/1800/1179/737",
       "resampleToYcc/2880/1800/1179/737", 2.0},
      {"base layer with JPEG vs swscale resize alone", "swscaleLanczosToYuv/2880/1800/1440/900",
       "baseLayer/2880/1800", 1.0},
      // 20 ms for the whole frame where libjpeg-turbo alone needs about 12 ms for one full-size JPEG.
      {"full-change frame vs libjpeg 2880x1800 q80 alone", "libjpegAlone/2880/1800/80",
       "fullChangeFrame/2880/1800", 0.6},
  });
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
