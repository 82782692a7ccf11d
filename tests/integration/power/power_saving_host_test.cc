// vistaro-host run from a folder whose name holds a single quote, switched by the reference
// client, and killed while its screens are dark.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>

#include "control/settings_store.h"
#include "support/host_process.h"
#include "support/loopback_client.h"
#include "support/xvfb_server.h"

#include "gamma_ramps.h"  // last: Xlib's macros clash with the names above
#include <X11/extensions/scrnsaver.h>

namespace vistaro {
namespace {

using namespace std::chrono_literals;
using testing::firstCrtcRamp;

constexpr char kPin[] = "581204";

// The processes whose command line holds every one of the words.
std::vector<pid_t> processesWith(const std::vector<std::string>& words) {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::replace(line.begin(), line.end(), '\0', ' ');
    if (!line.empty() && std::ranges::all_of(words, [&](auto& w) { return line.find(w) != line.npos; })) {
      found.push_back(std::stoi(entry.path().filename()));
    }
  }
  return found;
}

bool screenSaverOn(const std::string& name) {
  ::Display* display = XOpenDisplay(name.c_str());
  XScreenSaverInfo info{};
  XScreenSaverQueryInfo(display, DefaultRootWindow(display), &info);
  XCloseDisplay(display);
  return info.state == ScreenSaverOn;
}

// The phone's picture shows the desktop painted green (away from the pointer, which a fresh
// server keeps in the centre), not a dark screen.
bool seesGreen(testing::LoopbackClient& phone) {
  return phone.frames
      .takeUntil([](const Bytes& body) {
        const auto base = testing::watched(body).base;
        const uint8_t* pixel = base ? base->pixel(base->width / 4, base->height / 3) : nullptr;
        return pixel && pixel[0] < 60 && pixel[1] > 200;
      })
      .has_value();
}

TEST(PowerSavingHostTest, ThePhoneDarkensTheScreensAndADeadHostsWatchdogBringsThemBack) {
  testing::XvfbServer xvfb(640, 480);
  const x11::GammaRamp before = testing::setDimmedRamp(xvfb.name());
  testing::TempDir dir;
  std::filesystem::create_directories(dir / "it's here");
  std::filesystem::copy_file(VISTARO_BINARY_DIR "/src/app/vistaro-host", dir / "it's here" / "vistaro-host");
  testing::HostProcess host(xvfb.name(), kPin, dir / "it's here" / "vistaro-host");
  ASSERT_EQ(xvfb.run({"xset", "s", "activate"}), 0);
  ASSERT_TRUE(screenSaverOn(xvfb.name()));
  const auto saved = [&] { return SettingsStore(host.settingsFile()).headlessSavedBrightness().has_value(); };

  testing::LoopbackClient phone({.client = {.port = host.port(), .pin = kPin, .name = "phone"},
                                 .pull = RequestMessage{std::nullopt, 0, 0, 320, std::nullopt}});
  ASSERT_TRUE(phone.welcomes.take());
  EXPECT_TRUE(testing::eventually([&] { return !screenSaverOn(xvfb.name()); })) << "a phone watching keeps it awake";
  auto headless = [&](bool on) {
    phone.act([on](client::ClientConnection& c) { c.setHeadless(on); });
    return phone.welcomes.takeUntil([on](const WelcomeMessage& w) { return w.headless == on; }).has_value();
  };
  ASSERT_TRUE(headless(true));
  EXPECT_TRUE(x11::isDark(firstCrtcRamp(xvfb.name())));
  EXPECT_TRUE(saved());
  ASSERT_EQ(xvfb.run({"xsetroot", "-solid", "#10e010"}), 0);
  EXPECT_TRUE(seesGreen(phone));
  ASSERT_TRUE(headless(false));
  EXPECT_EQ(firstCrtcRamp(xvfb.name()), before);
  EXPECT_FALSE(saved());

  ASSERT_TRUE(headless(true));
  kill(host.pid(), SIGKILL);
  ASSERT_TRUE(testing::eventually([&] { return !host.running(); }));
  const auto killed = std::chrono::steady_clock::now();
  const std::vector<std::string> relaunched{"it's here/vistaro-host", xvfb.name(), "--restore-displays"};
  ASSERT_TRUE(testing::eventually([&] { return !processesWith(relaunched).empty(); }, 5s));
  EXPECT_LT(std::chrono::steady_clock::now() - killed, 3s);
  const bool restored = testing::eventually([&] {
    const x11::GammaRamp now = firstCrtcRamp(xvfb.name());
    return !saved() && std::ranges::equal(now.red, before.red, [](int a, int b) { return std::abs(a - b) <= 2; });
  });
  for (pid_t pid : processesWith(relaunched)) kill(pid, SIGTERM);
  EXPECT_TRUE(restored);
}

}  // namespace
}  // namespace vistaro
