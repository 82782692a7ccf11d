// vistaro-host's own CPU on a 1920 × 1080 Xvfb whose whole screen changes continuously: with one
// client watching, per delivered frame against our encoder's cost for the same pictures measured
// here; and with no client, where nothing may be captured at all.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>

#include "capture/frame_encoder.h"
#include "platform/x11/x11_connection.h"
#include "support/host_process.h"
#include "support/loopback_client.h"
#include "bench/process_cpu.h"
#include "support/xvfb_server.h"

// After the others: Xlib defines None and Bool as macros.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace vistaro {
namespace {

using Seconds = std::chrono::duration<double>;
using namespace std::chrono_literals;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr char kPin[] = "246810";
constexpr int kBaseWidth = 960;
constexpr auto kWarmUp = 1s;
constexpr auto kMeasured = 5s;

testing::XvfbServer& server() {
  static testing::XvfbServer instance(kWidth, kHeight);
  return instance;
}

// Desktop-like pictures: a gradient with blocks of fine "text" noise, different in each.
const std::vector<std::shared_ptr<PixelBuffer>>& scenes() {
  static const std::vector<std::shared_ptr<PixelBuffer>> pictures = [] {
    std::vector<std::shared_ptr<PixelBuffer>> made;
    std::mt19937 random(7);
    for (int n = 0; n < 4; ++n) {
      auto picture = PixelBuffer::allocate(kWidth, kHeight);
      for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = picture->mutableRow(y);
        for (int x = 0; x < kWidth; ++x) {
          const bool text = ((x / 240 + y / 120 + n) % 3 == 0) && (y % 20 < 12);
          const uint8_t ink = text ? static_cast<uint8_t>(random() % 2 ? 20 : 230) : 0;
          row[4 * x + 0] = text ? ink : static_cast<uint8_t>(x * 255 / kWidth);
          row[4 * x + 1] = text ? ink : static_cast<uint8_t>(y * 255 / kHeight);
          row[4 * x + 2] = text ? ink : static_cast<uint8_t>(40 * n + 60);
          row[4 * x + 3] = 255;
        }
      }
      made.push_back(std::move(picture));
    }
    return made;
  }();
  return pictures;
}

// Puts the pictures on the root window in turn, faster than the host's 20 frames a second.
class Painter {
 public:
  Painter() : thread_([this] { run(); }) {}
  ~Painter() {
    stop_ = true;
    thread_.join();
  }

 private:
  void run() {
    auto connection = x11::Connection::open(server().name());
    ::Display* display = connection->get();
    const Window root = DefaultRootWindow(display);
    GC gc = XCreateGC(display, root, 0, nullptr);
    for (size_t n = 0; !stop_; ++n) {
      PixelBuffer& picture = *scenes()[n % scenes().size()];
      XImage* image = XCreateImage(display, DefaultVisual(display, 0), 24, ZPixmap, 0,
                                   reinterpret_cast<char*>(picture.mutableData()), kWidth, kHeight, 32,
                                   static_cast<int>(picture.bytesPerRow()));
      XPutImage(display, root, gc, image, 0, 0, 0, 0, kWidth, kHeight);
      image->data = nullptr;  // the picture keeps its memory
      XDestroyImage(image);
      XSync(display, False);
      std::this_thread::sleep_for(35ms);
    }
    XFreeGC(display, gc);
  }

  std::atomic<bool> stop_{false};
  std::thread thread_;
};

double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// CPU milliseconds our encoder takes, on this thread, for the base layer the host sends of each picture.
double encodeMilliseconds() {
  FrameEncoder encoder;
  constexpr int rounds = 24;
  const double begin = threadCpuSeconds();
  for (int i = 0; i < rounds; ++i) {
    auto layer = encoder.encode(*scenes()[i % scenes().size()], std::nullopt, kBaseWidth,
                                int64_t{1} << 62, 0.72);
    benchmark::DoNotOptimize(layer);
  }
  return (threadCpuSeconds() - begin) * 1000 / rounds;
}

struct Usage {
  double hostCpu = 0;
  double serverCpu = 0;
  double wall = 0;
};

// CPU of the host and of the X server over the measured period, while `during` runs (it may block).
template <typename During>
Usage measure(pid_t host, During during) {
  const double hostBefore = testing::processCpuSeconds(host);
  const double serverBefore = testing::processCpuSeconds(server().pid());
  const auto begin = Clock::now();
  during(begin + kMeasured);
  Usage usage;
  usage.wall = Seconds(Clock::now() - begin).count();
  usage.hostCpu = testing::processCpuSeconds(host) - hostBefore;
  usage.serverCpu = testing::processCpuSeconds(server().pid()) - serverBefore;
  return usage;
}

void report(benchmark::State& state, const Usage& usage) {
  state.counters["host_cpu_percent"] = 100 * usage.hostCpu / usage.wall;
  state.counters["xserver_cpu_percent"] = 100 * usage.serverCpu / usage.wall;  // includes the painting
}

void hostWatchedAtFullRate(benchmark::State& state) {
  testing::HostProcess host(server().name(), kPin);
  const uint16_t port = host.port();
  if (port == 0) return state.SkipWithError("the host did not start");
  Painter painter;
  testing::LoopbackClient client({.client = {.port = port, .pin = kPin, .name = "watcher"},
                                  .pull = RequestMessage{std::nullopt, 0, 0, kBaseWidth, std::nullopt}});
  std::this_thread::sleep_for(kWarmUp);
  client.frames.clear();
  for (auto _ : state) {
    int frames = 0;
    const Usage usage = measure(host.pid(), [&](Clock::time_point end) {
      while (Clock::now() < end)
        if (client.frames.take(100ms)) ++frames;
    });
    report(state, usage);
    state.counters["fps"] = frames / usage.wall;
    if (frames == 0) return state.SkipWithError("no frame arrived");
    const double perFrame = usage.hostCpu * 1000 / frames;
    const double encode = encodeMilliseconds();
    state.counters["host_cpu_ms_per_frame"] = perFrame;
    state.counters["encode_ms"] = encode;
    state.counters["host_per_frame_per_encode"] = perFrame / encode;
  }
}
BENCHMARK(hostWatchedAtFullRate)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The screen keeps changing, but no one watches: the host must not capture.
void hostUnwatchedWhileTheScreenChanges(benchmark::State& state) {
  testing::HostProcess host(server().name(), kPin);
  if (host.port() == 0) return state.SkipWithError("the host did not start");
  Painter painter;
  std::this_thread::sleep_for(kWarmUp);
  for (auto _ : state) {
    const Usage usage = measure(host.pid(), [](Clock::time_point end) { std::this_thread::sleep_until(end); });
    report(state, usage);
    state.counters["host_cpu_ms_per_second"] = usage.hostCpu * 1000 / usage.wall;
    state.counters["host_cpu_per_encode_per_second"] = usage.hostCpu * 1000 / usage.wall / encodeMilliseconds();
  }
}
BENCHMARK(hostUnwatchedWhileTheScreenChanges)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vistaro

BENCHMARK_MAIN();
