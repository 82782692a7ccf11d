// vistaro-host beside the VNC servers people use (TigerVNC's x0vncserver and x11vnc), on one Xvfb
// with openbox and the same scripted workloads, each watched by one client with one request open.
// Prints a markdown table of medians over the runs, with each of our columns as a ratio to
// x0vncserver measured in the same run, since the machine's load moves the absolute numbers.

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <fmt/core.h>

#include "bench/peers/measurements.h"
#include "bench/peers/statistics.h"

namespace vistaro::peers {
namespace {

struct Options {
  int seconds = 20;
  int runs = 3;
  int keys = 40;
};

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  const std::map<std::string, int*> numbers{
      {"--seconds", &options.seconds}, {"--runs", &options.runs}, {"--keys", &options.keys}};
  for (int i = 1; i < argc; i += 2) {
    const auto option = numbers.find(argv[i]);
    if (option == numbers.end() || i + 1 == argc) return std::nullopt;
    *option->second = std::atoi(argv[i + 1]);
    if (*option->second <= 0) return std::nullopt;
  }
  return options;
}

std::string loadAverage() {
  std::string one, five, fifteen;
  std::ifstream("/proc/loadavg") >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

std::string cell(double value, int digits) { return std::isnan(value) ? "–" : fmt::format("{:.{}f}", value, digits); }

std::string ratio(double ours, double theirs) {
  return std::isnan(ours) || std::isnan(theirs) || theirs == 0 ? "–" : fmt::format("{:.2f}", ours / theirs);
}

void printRow(const std::string& workload, const std::string& what, const std::map<Peer, double>& values, int digits) {
  std::string line = fmt::format("| {} | {} |", workload, what);
  for (Peer peer : kPeers) line += fmt::format(" {} |", cell(values.at(peer), digits));
  for (Peer ours : {Peer::hostFullBase, Peer::hostSmallBase}) {
    line += fmt::format(" {} |", ratio(values.at(ours), values.at(Peer::x0vncserver)));
  }
  std::cout << line << "\n";
}

using Measure = std::function<double(const Usage&)>;

double perUpdate(double total, const Usage& usage) { return usage.updates ? total / usage.updates : NAN; }

int run(const Options& options) {
  std::cerr << "load average at start: " << loadAverage() << "\n";
  Desktop desktop;
  std::map<Workload, std::map<Peer, std::vector<Usage>>> usages;
  std::map<int, std::vector<double>> hostCpuPerSecond;  // by clients watching
  for (int run = 1; run <= options.runs; ++run) {
    for (Workload workload : {Workload::typing, Workload::scrolling}) {
      for (Peer peer : kPeers) {
        const Usage usage = measureWorkload(desktop, peer, workload, options.seconds);
        std::cerr << fmt::format("run {} {} {}: {} updates ({} changed nothing), {:.2f} s CPU, Xvfb {:.2f} s\n",
                                 run, workload == Workload::typing ? "typing" : "scrolling", peerName(peer),
                                 usage.updates, usage.unchanged, usage.serverCpu, usage.displayCpu);
        usages[workload][peer].push_back(usage);
      }
    }
    for (int clients : {1, 8, 16}) {
      const Usage usage = measureWorkload(desktop, Peer::hostFullBase, Workload::typing, options.seconds, clients);
      hostCpuPerSecond[clients].push_back(usage.serverCpu / usage.seconds);
      std::cerr << fmt::format("run {} typing, {} clients: {:.2f} s CPU\n", run, clients, usage.serverCpu);
    }
  }
  std::map<Peer, std::vector<double>> latencies;
  for (Peer peer : kPeers) latencies[peer] = keyToFrameMilliseconds(desktop, peer, options.keys);
  const std::string loadAtEnd = loadAverage();

  std::cout << fmt::format("{} s × {} runs, medians; 1920 × 1080 Xvfb with openbox; load average {} at the end\n\n",
                           options.seconds, options.runs, loadAtEnd);
  std::string header = "| workload | what |";
  std::string rule = "|---|---|";
  for (Peer peer : kPeers) {
    header += fmt::format(" {} |", peerName(peer));
    rule += "---|";
  }
  std::cout << header << " full-size base / x0vncserver | 960 px base / x0vncserver |\n" << rule << "---|---|\n";

  const std::vector<std::tuple<Workload, std::string, Measure, int>> rows{
      {Workload::typing, "host CPU ms per update", [](const Usage& u) { return perUpdate(1000 * u.serverCpu, u); }, 2},
      {Workload::typing, "X server CPU ms per update", [](const Usage& u) { return perUpdate(1000 * u.displayCpu, u); }, 2},
      {Workload::typing, "bytes per update", [](const Usage& u) { return perUpdate(u.bytes, u); }, 0},
      {Workload::scrolling, "updates/s", [](const Usage& u) { return u.updates / u.seconds; }, 1},
      {Workload::scrolling, "host CPU ms per update", [](const Usage& u) { return perUpdate(1000 * u.serverCpu, u); }, 2},
      {Workload::scrolling, "X server CPU ms per update", [](const Usage& u) { return perUpdate(1000 * u.displayCpu, u); }, 2},
      {Workload::scrolling, "bytes per update", [](const Usage& u) { return perUpdate(u.bytes, u); }, 0},
  };
  for (const auto& [workload, what, measure, digits] : rows) {
    std::map<Peer, double> values;
    for (Peer peer : kPeers) {
      std::vector<double> perRun;
      for (const Usage& usage : usages[workload][peer]) perRun.push_back(measure(usage));
      values[peer] = median(perRun);
    }
    printRow(workload == Workload::typing ? "typing" : "scrolling", what, values, digits);
  }
  for (double percent : {50.0, 95.0}) {
    std::map<Peer, double> values;
    for (Peer peer : kPeers) values[peer] = percentile(latencies[peer], percent);
    printRow("key → frame", fmt::format("p{:.0f} ms", percent), values, 1);
  }
  std::string answered = "\nkeys answered within 2 s, of " + std::to_string(options.keys) + ":";
  for (Peer peer : kPeers) answered += fmt::format(" {} {};", peerName(peer), latencies[peer].size());
  std::cout << answered << "\n";

  std::vector<double> eight, sixteen;
  for (int run = 0; run < options.runs; ++run) {
    eight.push_back(hostCpuPerSecond[8][run] / hostCpuPerSecond[1][run]);
    sixteen.push_back(hostCpuPerSecond[16][run] / hostCpuPerSecond[1][run]);
  }
  std::cout << fmt::format(
      "vistaro-host (full-size base), typing watched by 8 clients: {:.2f} × the host CPU of one client; by 16 "
      "clients: {:.2f} × (one client: {:.1f} ms CPU per second)\n",
      median(eight), median(sixteen), 1000 * median(hostCpuPerSecond[1]));
  return 0;
}

}  // namespace
}  // namespace vistaro::peers

int main(int argc, char** argv) {
  const auto options = vistaro::peers::parse(argc, argv);
  if (!options) {
    std::cerr << "usage: bench_peers [--seconds N] [--runs N] [--keys N]\n";
    return 2;
  }
  try {
    return vistaro::peers::run(*options);
  } catch (const std::exception& error) {
    std::cerr << "bench_peers: " << error.what() << "\n";
    return 1;
  }
}
