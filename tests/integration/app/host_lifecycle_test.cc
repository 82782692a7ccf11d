// vistaro-host as a user runs it, panel or console, ended by each termination signal.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/xvfb_server.h"

namespace vistaro {
namespace {

using namespace std::chrono_literals;

TEST(HostLifecycle, EachTerminationSignalPutsTheDesktopBackAndEndsWithStatusZeroWithinTwoSeconds) {
  testing::XvfbServer xvfb(1280, 800);
  struct Case {
    bool headless;
    int signal;
    const char* name;
  };
  for (const Case& c : {Case{true, SIGTERM, "SIGTERM"}, Case{false, SIGTERM, "SIGTERM"}, Case{false, SIGINT, "SIGINT"},
                        Case{false, SIGHUP, "SIGHUP"}}) {
    SCOPED_TRACE(std::string(c.headless ? "console " : "panel ") + c.name);
    testing::TempDir config;
    std::filesystem::create_directories(config / "vistaro-host");
    std::ofstream(config / "vistaro-host/settings.json") << R"({"pin":"530017"})";
    std::vector<std::string> argv{VISTARO_BINARY_DIR "/src/app/vistaro-host", "--display", xvfb.name()};
    if (c.headless) argv.push_back("--headless");
    testing::ChildProcess host(argv, {.environment = {"XDG_CONFIG_HOME=" + config.path().string(),
                                                      "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent"}});
    ASSERT_TRUE(host.waitForOutput("watch it with: ")) << host.output();
    if (!c.headless) {
      // No tray on a bare X server: the panel is a window of its own.
      EXPECT_TRUE(testing::eventually([&] {
        return xvfb.run({"sh", "-c", "xwininfo -root -tree | grep -q '\"Vistaro Host\": (\"vistaro-host\"'"}) == 0;
      }));
    }
    host.signal(c.signal);
    EXPECT_EQ(host.waitForExit(2s), 0) << host.output();
    EXPECT_NE(host.output().find(std::string("ended (") + c.name + "); the desktop is as it was"), std::string::npos)
        << host.output();
  }
}

}  // namespace
}  // namespace vistaro
