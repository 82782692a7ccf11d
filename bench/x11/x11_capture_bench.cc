// Grab cost on a private Xvfb, as a multiple of a plain memcpy of the same bytes, and the
// capture thread's CPU use while the whole screen changes continuously.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <future>
#include <thread>

#include "core/asio_executor.h"
#include "platform/x11/shm_frame_pool.h"
#include "platform/x11/x11_capture_source.h"
#include "platform/x11/x11_connection.h"
#include "bench/process_cpu.h"
#include "support/xvfb_server.h"

// After the others: Xlib defines None and Bool as macros.
#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

namespace vistaro::x11 {
namespace {

using Seconds = std::chrono::duration<double>;

testing::XvfbServer& server() {
  static testing::XvfbServer instance(2880, 1800);
  return instance;
}

// Milliseconds per frame for memcpy into a rotation of five frame buffers, as the pool rotates.
double memcpyMilliseconds(int width, int height) {
  size_t bytes = size_t(width) * height * 4;
  std::vector<uint8_t> source(bytes, 0x5a);
  std::vector<std::vector<uint8_t>> targets(5, std::vector<uint8_t>(bytes));
  constexpr int rounds = 40;
  auto begin = Clock::now();
  for (int i = 0; i < rounds; ++i) {
    std::memcpy(targets[i % 5].data(), source.data(), bytes);
    benchmark::DoNotOptimize(targets[i % 5].data());
  }
  return Seconds(Clock::now() - begin).count() * 1000 / rounds;
}

void shmGrab(benchmark::State& state) {
  int width = int(state.range(0)), height = int(state.range(1));
  auto connection = Connection::open(server().name());
  auto pool = ShmFramePool::create(*connection, width, height, 5);
  if (!pool) return state.SkipWithError("MIT-SHM unavailable");
  ::Display* display = connection->get();
  std::vector<SharedPixels> inFlight;  // a few frames downstream, as in the real pipeline
  auto begin = Clock::now();
  for (auto _ : state) {
    if (inFlight.size() == 3) inFlight.erase(inFlight.begin());
    auto lease = pool->acquire();
    XShmGetImage(display, DefaultRootWindow(display), lease->image, 0, 0, AllPlanes);
    benchmark::DoNotOptimize(lease->pixels->data());
    inFlight.push_back(std::move(lease->pixels));
  }
  double grab = Seconds(Clock::now() - begin).count() * 1000 / double(state.iterations());
  double copy = memcpyMilliseconds(width, height);
  state.counters["grab_ms"] = grab;
  state.counters["memcpy_ms"] = copy;
  state.counters["grab_per_memcpy"] = grab / copy;
}
BENCHMARK(shmGrab)->Args({1920, 1080})->Args({2880, 1800})->Unit(benchmark::kMillisecond)->UseRealTime();

// Repaints an area of the root in a new colour every few milliseconds until stopped.
void paintContinuously(const std::string& name, std::atomic<bool>& stop, Rect area) {
  auto connection = Connection::open(name);
  ::Display* display = connection->get();
  Window root = DefaultRootWindow(display);
  GC gc = XCreateGC(display, root, 0, nullptr);
  for (unsigned long color = 0; !stop; color += 0x030507) {
    XSetForeground(display, gc, color & 0xffffff);
    XFillRectangle(display, root, gc, int(area.x), int(area.y), unsigned(area.width), unsigned(area.height));
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  XFreeGC(display, gc);
}

double threadCpuSeconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// A stream of the whole screen on its own capture thread, counting frames and that
// thread's CPU time.
class RunningCapture {
 public:
  RunningCapture() {
    std::promise<DisplayID> listed;
    main_.post([&] {
      source_.listDisplays([&](std::optional<CaptureError>, std::vector<CaptureSource::Display> displays) {
        listed.set_value(displays.empty() ? 0 : displays.front().id);
      });
    });
    DisplayID display = listed.get_future().get();
    std::promise<clockid_t> threadClock;
    capture_.post([&] {
      clockid_t clock{};
      pthread_getcpuclockid(pthread_self(), &clock);
      threadClock.set_value(clock);
    });
    clock_ = threadClock.get_future().get();
    std::promise<std::optional<CaptureError>> started;
    main_.post([&] {
      source_.startStream(
          display,
          [this](CapturedFrame) {
            ++frames_;
            lastFrame_ = Clock::now().time_since_epoch().count();
          },
          [](std::optional<CaptureError>) {}, [&](std::optional<CaptureError> error) { started.set_value(error); });
    });
    startFailed_ = started.get_future().get().has_value();
  }
  ~RunningCapture() {
    std::promise<void> stopped;
    main_.post([&] { source_.stopStream([&] { stopped.set_value(); }); });
    stopped.get_future().get();
  }

  bool startFailed() const { return startFailed_; }
  // When the newest frame arrived.
  TimePoint lastFrame() const { return TimePoint(Duration(lastFrame_.load())); }

  void measure(benchmark::State& state, Seconds period) {
    int framesBefore = frames_;
    double cpuBefore = threadCpuSeconds(clock_);
    double serverBefore = testing::processCpuSeconds(server().pid());
    auto begin = Clock::now();
    std::this_thread::sleep_for(period);
    double wall = Seconds(Clock::now() - begin).count();
    double cpu = threadCpuSeconds(clock_) - cpuBefore;
    double serverCpu = testing::processCpuSeconds(server().pid()) - serverBefore;
    int count = frames_ - framesBefore;
    state.counters["fps"] = count / wall;
    state.counters["cpu_percent"] = 100 * cpu / wall;
    state.counters["xserver_cpu_percent"] = 100 * serverCpu / wall;  // includes serving any painter
    if (count == 0) return;
    state.counters["cpu_ms_per_frame"] = cpu * 1000 / count;
    state.counters["cpu_per_frame_per_memcpy"] = cpu * 1000 / count / memcpyMilliseconds(2880, 1800);
  }

 private:
  AsioExecutor main_{"bench-main"};
  AsioExecutor capture_{"velmora.capture"};
  X11CaptureSource source_{main_, capture_, server().name()};
  clockid_t clock_{};
  std::atomic<int> frames_{0};
  std::atomic<Duration::rep> lastFrame_{0};
  bool startFailed_ = false;
};

void captureThreadCpuAtFullRate(benchmark::State& state) {
  RunningCapture capture;
  if (capture.startFailed()) return state.SkipWithError("capture did not start");
  std::atomic<bool> stop{false};
  std::thread painter(paintContinuously, server().name(), std::ref(stop), Rect{0, 0, 2880, 1800});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (auto _ : state) capture.measure(state, std::chrono::seconds(3));
  stop = true;
  painter.join();
}
BENCHMARK(captureThreadCpuAtFullRate)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A line of text being typed: what a frame costs the X server when little changed.
void captureThreadCpuForSmallChanges(benchmark::State& state) {
  RunningCapture capture;
  if (capture.startFailed()) return state.SkipWithError("capture did not start");
  std::atomic<bool> stop{false};
  std::thread painter(paintContinuously, server().name(), std::ref(stop), Rect{600, 700, 420, 36});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (auto _ : state) capture.measure(state, std::chrono::seconds(3));
  stop = true;
  painter.join();
}
BENCHMARK(captureThreadCpuForSmallChanges)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Nothing changes: the frame clock still samples the pointer and the damage queue.
void captureThreadCpuIdle(benchmark::State& state) {
  RunningCapture capture;
  if (capture.startFailed()) return state.SkipWithError("capture did not start");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (auto _ : state) capture.measure(state, std::chrono::seconds(3));
}
BENCHMARK(captureThreadCpuIdle)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A small change after a quiet spell (as a keystroke after a pause): how long until its frame is
// handed on, as a fraction of the frame interval that bounds a tick-driven capture.
void damageToFrameLatency(benchmark::State& state) {
  RunningCapture capture;
  if (capture.startFailed()) return state.SkipWithError("capture did not start");
  auto connection = Connection::open(server().name());
  ::Display* display = connection->get();
  Window root = DefaultRootWindow(display);
  GC gc = XCreateGC(display, root, 0, nullptr);
  std::vector<double> milliseconds;
  int missed = 0;  // no frame within a second
  for (auto _ : state) {
    for (int i = 0; i < 40; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(120 + 7 * (i % 9)));
      XSetForeground(display, gc, 0x102030 * (i + 1) & 0xffffff);
      // From the request: the frame may be out before XSync returns.
      const TimePoint drawn = Clock::now();
      XFillRectangle(display, root, gc, 100 + 10 * i, 100, 8, 16);
      XSync(display, False);
      while (capture.lastFrame() < drawn && Clock::now() - drawn < std::chrono::seconds(1))
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      if (capture.lastFrame() < drawn) ++missed;
      milliseconds.push_back(std::chrono::duration<double, std::milli>(capture.lastFrame() - drawn).count());
    }
  }
  XFreeGC(display, gc);
  std::sort(milliseconds.begin(), milliseconds.end());
  const double interval = std::chrono::duration<double, std::milli>(X11CaptureSource::frameInterval).count();
  state.counters["missed"] = missed;
  state.counters["p50_ms"] = milliseconds[milliseconds.size() / 2];
  state.counters["p95_ms"] = milliseconds[milliseconds.size() * 95 / 100];
  state.counters["p50_per_frame_interval"] = milliseconds[milliseconds.size() / 2] / interval;
}
BENCHMARK(damageToFrameLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vistaro::x11

BENCHMARK_MAIN();
