// Frames fanned out to 1, 4 and 16 clients over loopback TLS, three kinds of change on a 2880 × 1800 screen;
// and mergeRects on dirty lists far larger than the hub ever lets them grow unmerged.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <map>

#include "bench/fanout/fanout_rig.h"
#include "fakes/capture/test_images.h"
#include "server/fanout/patch_rects.h"

namespace vistaro::bench {
namespace {

constexpr int kWidth = 2880, kHeight = 1800;

double processCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

std::shared_ptr<PixelBuffer> copyOf(const PixelBuffer& frame) {
  auto copy = PixelBuffer::allocate(frame.width(), frame.height());
  std::memcpy(copy->mutableData(), frame.data(), frame.bytesPerRow() * frame.height());
  return copy;
}

// Two frames to alternate between, and the change from either to the other.
struct ChangePattern {
  SharedPixels frames[2];
  DirtyRegion changes = DirtyRegion::unknown();
};

ChangePattern typing() {
  auto a = testing::desktopLikeFrame(kWidth, kHeight, 1);
  auto b = copyOf(*a);
  const Rect line{600, 700, 420, 36};
  for (int y = int(line.y); y < int(line.maxY()); ++y) {
    for (int x = int(line.x); x < int(line.maxX()); ++x) {
      if ((x / 3 + y / 5) % 3 == 0) std::memset(b->mutableRow(y) + x * 4, 0x10, 3);
    }
  }
  return {{a, b}, DirtyRegion::of({line})};
}

ChangePattern scrolling() {
  auto a = testing::desktopLikeFrame(kWidth, kHeight, 2);
  auto b = copyOf(*a);
  const Rect pane{1000, 300, 1400, 1200};
  for (int y = int(pane.y); y < int(pane.maxY()) - 40; ++y) {
    std::memcpy(b->mutableRow(y) + int(pane.x) * 4, a->row(y + 40) + int(pane.x) * 4, size_t(pane.width) * 4);
  }
  return {{a, b}, DirtyRegion::of({pane})};
}

ChangePattern fullScreen() {
  return {{testing::desktopLikeFrame(kWidth, kHeight, 3), testing::desktopLikeFrame(kWidth, kHeight, 4)},
          DirtyRegion::unknown()};
}

const ChangePattern& pattern(int64_t kind) {
  static const std::map<int64_t, ChangePattern> patterns{{0, typing()}, {1, scrolling()}, {2, fullScreen()}};
  return patterns.at(kind);
}

void BM_Fanout(benchmark::State& state) {
  const ChangePattern& change = pattern(state.range(0));
  const int clients = int(state.range(1));
  FanoutRig rig(clients);
  rig.deliver(change.frames[0], DirtyRegion::unknown());  // everyone holds whole layers first
  const uint64_t bytesBefore = rig.bytesReceived();
  const double cpuBefore = processCpuSeconds();
  int next = 1;
  for (auto _ : state) {
    rig.deliver(change.frames[next], change.changes);
    next ^= 1;
  }
  const double delivered = double(state.iterations()) * clients;
  state.counters["frames/s/client"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["cpu_ms/frame"] = (processCpuSeconds() - cpuBefore) * 1e3 / delivered;
  state.counters["bytes/frame"] = double(rig.bytesReceived() - bytesBefore) / delivered;
  state.SetLabel(std::array{"typing", "scrolling", "full screen"}[state.range(0)]);
}
BENCHMARK(BM_Fanout)->ArgsProduct({{0, 1, 2}, {1, 4, 16}})->UseRealTime()->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

// Changed 64 × 64 tiles with a tile's gap between them: too far apart to join as neighbours, so the
// least-waste phase merges hundreds of them down to eight.
std::vector<Rect> scatteredTiles() {
  std::vector<Rect> tiles;
  for (int y = 0; y + 64 <= kHeight; y += 128) {
    for (int x = 0; x + 64 <= kWidth; x += 128) tiles.push_back({double(x), double(y), 64, 64});
  }
  return tiles;
}

// Every other tile of the screen: corners touch, so all of them join as neighbours.
std::vector<Rect> checkerboard() {
  std::vector<Rect> tiles;
  for (int y = 0; y < kHeight; y += 64) {
    for (int x = (y / 64 % 2) * 64; x < kWidth; x += 128) tiles.push_back({double(x), double(y), 64, 64});
  }
  return tiles;
}

void BM_MergeRects(benchmark::State& state) {
  const auto tiles = state.range(0) ? checkerboard() : scatteredTiles();
  for (auto _ : state) benchmark::DoNotOptimize(mergeRects(tiles));
  state.SetLabel(std::to_string(tiles.size()) + (state.range(0) ? " checkerboard tiles" : " scattered tiles"));
}
BENCHMARK(BM_MergeRects)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Ends the run with each fan-out's CPU per delivered frame over the single client's for the same change.
class CpuRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_name.function_name != "BM_Fanout" || !run.counters.count("cpu_ms/frame")) continue;
      const std::string& args = run.run_name.args;  // "pattern/clients"
      const size_t slash = args.find('/');
      cpuPerFrame_[{run.report_label, std::stoi(args.substr(slash + 1))}] = run.counters.at("cpu_ms/frame");
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-12s %8s %16s %10s\n", "change", "clients", "cpu_ms/frame", "ratio");
    for (const auto& [key, cpu] : cpuPerFrame_) {
      const auto single = cpuPerFrame_.find({key.first, 1});
      if (single == cpuPerFrame_.end()) continue;
      std::printf("%-12s %8d %16.3f %10.2f\n", key.first.c_str(), key.second, cpu, cpu / single->second);
    }
  }

 private:
  std::map<std::pair<std::string, int>, double> cpuPerFrame_;
};

}  // namespace
}  // namespace vistaro::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  vistaro::bench::CpuRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}
