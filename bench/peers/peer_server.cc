#include "bench/peers/peer_server.h"

#include "bench/peers/host_watcher.h"
#include "bench/peers/vnc_watcher.h"
#include "support/host_process.h"

namespace vistaro::peers {
namespace {

constexpr uint16_t kVncPort = 5901;
constexpr char kPin[] = "246810";
constexpr int64_t kFullBase = 1920;
constexpr int64_t kSmallBase = 960;

class VncServer : public PeerServer {
 public:
  VncServer(Desktop& desktop, const std::vector<std::string>& argv) : process_(desktop.start(argv)) {}
  pid_t pid() const override { return process_->pid(); }
  std::unique_ptr<Watcher> watch() override { return std::make_unique<VncWatcher>(kVncPort); }

 private:
  std::unique_ptr<testing::ChildProcess> process_;
};

class HostServer : public PeerServer {
 public:
  HostServer(Desktop& desktop, int64_t baseMaxW) : process_(desktop.display(), kPin), baseMaxW_(baseMaxW) {
    port_ = process_.port();
    if (port_ == 0) throw std::runtime_error("vistaro-host did not start: " + process_.output());
  }
  pid_t pid() const override { return process_.pid(); }
  std::unique_ptr<Watcher> watch() override { return std::make_unique<HostWatcher>(port_, kPin, baseMaxW_); }
  void drainOutput() override { process_.output(); }

 private:
  testing::HostProcess process_;
  int64_t baseMaxW_;
  uint16_t port_ = 0;
};

}  // namespace

std::string peerName(Peer peer) {
  switch (peer) {
    case Peer::x0vncserver: return "x0vncserver";
    case Peer::x11vnc: return "x11vnc";
    case Peer::hostFullBase: return "vistaro-host (full-size base)";
    case Peer::hostSmallBase: return "vistaro-host (960 px base)";
  }
  return {};
}

std::unique_ptr<PeerServer> startPeer(Peer peer, Desktop& desktop) {
  const std::string port = std::to_string(kVncPort);
  switch (peer) {
    // Debian's x0vncserver is a script that starts this program in the background.
    case Peer::x0vncserver:
      return std::make_unique<VncServer>(
          desktop, std::vector<std::string>{"X0tigervnc", "-display", desktop.display(), "-rfbport", port,
                                            "-SecurityTypes", "None", "-localhost"});
    case Peer::x11vnc:
      return std::make_unique<VncServer>(
          desktop, std::vector<std::string>{"x11vnc", "-display", desktop.display(), "-rfbport", port, "-localhost",
                                            "-nopw", "-forever", "-shared", "-quiet"});
    case Peer::hostFullBase: return std::make_unique<HostServer>(desktop, kFullBase);
    case Peer::hostSmallBase: return std::make_unique<HostServer>(desktop, kSmallBase);
  }
  return nullptr;
}

}  // namespace vistaro::peers
