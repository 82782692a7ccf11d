#include "bench/peers/measurements.h"

#include <algorithm>
#include <random>
#include <stdexcept>
#include <thread>

#include "bench/process_cpu.h"

namespace vistaro::peers {
namespace {

using namespace std::chrono_literals;
using Seconds = std::chrono::duration<double>;

constexpr auto kWarmUp = 2s;
constexpr auto kKeyPatience = 2s;

struct Session {
  std::unique_ptr<testing::ChildProcess> terminal;
  std::unique_ptr<PeerServer> server;
  std::vector<std::unique_ptr<Watcher>> watchers;
};

Session startSession(Desktop& desktop, Peer peer, const char* command, int clients) {
  Session session;
  session.terminal = desktop.terminal(command);
  session.server = startPeer(peer, desktop);
  for (int i = 0; i < clients; ++i) {
    session.watchers.push_back(session.server->watch());
    if (!session.watchers.back()->updates.take()) throw std::runtime_error(peerName(peer) + " sent no first update");
  }
  return session;
}

}  // namespace

Usage measureWorkload(Desktop& desktop, Peer peer, Workload workload, int seconds, int clients) {
  const bool typing = workload == Workload::typing;
  Session session = startSession(desktop, peer, typing ? kSwallowTyping : kScroll2000LinesPerSecond, clients);
  auto typist = typing ? desktop.typist(seconds + int(Seconds(kWarmUp).count()) + 1) : nullptr;
  std::this_thread::sleep_for(kWarmUp);
  for (auto& watcher : session.watchers) watcher->updates.clear();

  Usage usage;
  const double serverBefore = testing::processCpuSeconds(session.server->pid());
  const double displayBefore = testing::processCpuSeconds(desktop.serverPid());
  const auto begin = Clock::now();
  const auto end = begin + std::chrono::seconds(seconds);
  for (auto now = begin; now < end; now = Clock::now()) {
    const auto wait = std::min(100ms, std::chrono::duration_cast<std::chrono::milliseconds>(end - now));
    if (auto update = session.watchers.front()->updates.take(wait); update && update->at < end) {
      ++usage.updates;
      usage.unchanged += update->changed ? 0 : 1;
      usage.bytes += double(update->bytes);
    }
    for (size_t i = 1; i < session.watchers.size(); ++i) session.watchers[i]->updates.clear();
    session.server->drainOutput();
  }
  usage.seconds = Seconds(Clock::now() - begin).count();
  usage.serverCpu = testing::processCpuSeconds(session.server->pid()) - serverBefore;
  usage.displayCpu = testing::processCpuSeconds(desktop.serverPid()) - displayBefore;
  return usage;
}

std::vector<double> keyToFrameMilliseconds(Desktop& desktop, Peer peer, int keys) {
  Session session = startSession(desktop, peer, kSwallowTyping, 1);
  Watcher& watcher = *session.watchers.front();
  std::mt19937 random(19);
  std::uniform_int_distribution<int> pause(250, 350);  // no lockstep with a server's capture period
  std::this_thread::sleep_for(1s);
  std::vector<double> latencies;
  for (int i = 0; i < keys; ++i) {
    watcher.updates.clear();
    const auto sent = watcher.pressKey(char('a' + i % 26));
    const auto shown = watcher.updates.takeUntil([&](const Update& u) { return u.changed && u.at >= sent; },
                                                 std::chrono::duration_cast<std::chrono::milliseconds>(kKeyPatience));
    if (shown) latencies.push_back(std::chrono::duration<double, std::milli>(shown->at - sent).count());
    session.server->drainOutput();
    std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
  }
  return latencies;
}

}  // namespace vistaro::peers
