// vistaro-host reached by the reference client over QUIC: the same session as over TCP.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "reach/direct_agent.h"
#include "support/child_process.h"
#include "support/host_process.h"
#include "support/temp_dir.h"
#include "support/xvfb_server.h"

namespace vistaro {
namespace {

constexpr char kPin[] = "314159";

std::string contents(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(HostOverQuic, WatchOverQuicSeesWhatWatchOverTcpSees) {
  testing::XvfbServer xvfb(800, 600);
  ASSERT_EQ(xvfb.run({"xsetroot", "-solid", "#2a6f97"}), 0);
  testing::HostProcess host(xvfb.name(), kPin);
  const uint16_t port = host.port();
  ASSERT_NE(port, 0) << host.output();
  testing::TempDir out;
  auto watch = [&](std::vector<std::string> path, const std::string& dir) {
    std::vector<std::string> argv{VISTARO_BINARY_DIR "/client/vistaro-client", "--pin", kPin};
    argv.insert(argv.end(), path.begin(), path.end());
    argv.insert(argv.end(), {"watch", "--frames", "1", "--out", (out / dir).string()});
    testing::ChildProcess client(argv);
    EXPECT_EQ(client.waitForExit(), 0) << client.output();
    return client.output();
  };
  const std::string overTcp = watch({"--port", std::to_string(port)}, "tcp");
  const std::string overQuic = watch({"--quic", "127.0.0.1:" + std::to_string(DirectAgent::kPreferredPort)}, "quic");
  EXPECT_NE(overQuic.find("over QUIC"), std::string::npos) << overQuic;
  EXPECT_NE(overQuic.find("frame seq="), std::string::npos) << overQuic;
  const std::string base = contents(out / "tcp" / "base.ppm");
  EXPECT_GT(base.size(), 800u * 600u);
  EXPECT_EQ(contents(out / "quic" / "base.ppm"), base);
}

}  // namespace
}  // namespace vistaro
