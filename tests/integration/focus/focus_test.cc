// Focus answers end to end: vistaro-host and GTK windows on a private Xvfb and session bus, as on
// a user's desktop, clicked by the reference client.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <regex>
#include <sstream>

#include "core/geometry.h"
#include "support/host_process.h"
#include "support/loopback_client.h"
#include "support/temp_dir.h"
#include "support/xvfb_server.h"

namespace vistaro::testing {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

constexpr char kPin[] = "520741";
constexpr int kWidth = 1280, kHeight = 800;

class FocusTest : public ::testing::Test {
 protected:
  FocusTest() {
    // The host and the windows find the one session bus as a desktop session's programs do.
    setenv("DISPLAY", xvfb.name().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), 1);
    if (!eventually([&] { return std::filesystem::exists(runtime / "bus"); })) throw std::runtime_error("no session bus");
  }

  // GTK `version` (3 or 4) shows the entry and the button away from the screen's corner;
  // where they are, in root pixels.
  void openWindow(const std::string& version, const std::vector<std::string>& environment = {}) {
    window = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/python3", FOCUS_WINDOW_PATH, version}, ChildProcess::Options{environment});
    ASSERT_TRUE(window->waitForOutput("ready\n")) << window->output();
    ASSERT_EQ(ChildProcess::run({"xdotool", "search", "--sync", "--name", "^focus-test$", "windowmove", "--sync", "300",
                                 "200"}),
              0);
    ChildProcess info({"xwininfo", "-name", "focus-test"});
    ASSERT_EQ(info.waitForExit(), 0) << info.output();
    std::smatch x, y;
    const std::string where = info.output();
    ASSERT_TRUE(std::regex_search(where, x, std::regex("Absolute upper-left X: +(-?[0-9]+)")) &&
                std::regex_search(where, y, std::regex("Absolute upper-left Y: +(-?[0-9]+)")));
    for (auto [name, rect] : {std::pair{"entry", &entry}, std::pair{"button", &button}}) {
      std::smatch found;
      const std::string output = window->output();
      ASSERT_TRUE(std::regex_search(output, found, std::regex(std::string(name) + " ([0-9 ]+)\n")));
      std::istringstream numbers(found[1].str());
      numbers >> rect->x >> rect->y >> rect->width >> rect->height;
      rect->x += std::stoi(x[1]);
      rect->y += std::stoi(y[1]);
    }
  }

  std::unique_ptr<LoopbackClient> connect() {
    auto client = std::make_unique<LoopbackClient>(port, kPin);
    const auto welcome = client->welcomes.take();
    if (welcome) display = welcome->current;
    EXPECT_TRUE(welcome) << host->output();
    return client;
  }

  void startHost() {
    host = std::make_unique<HostProcess>(xvfb.name(), kPin);
    port = host->port();
    ASSERT_NE(port, 0) << host->output();
    phone = connect();
  }

  void click(const Rect& target) {
    const double x = target.x + target.width / 2, y = target.y + target.height / 2;
    InputMessage message{.x = x / (kWidth - 1), .y = y / (kHeight - 1), .displayID = display};
    phone->act([&](client::ClientConnection& connection) { connection.input(message); });
  }

  std::optional<bool> answer(milliseconds patience = 3s) {
    auto focus = phone->focus.take(patience);
    return focus ? std::optional(focus->editable) : std::nullopt;
  }

  XvfbServer xvfb{kWidth, kHeight};
  TempDir runtime;
  std::string busAddress = "unix:path=" + (runtime / "bus").string();
  // Settings the accessibility bus writes stay in memory and its socket in our runtime directory:
  // the machine's own are not touched, nor another test's bus.
  ChildProcess bus{{"dbus-daemon", "--session", "--nofork", "--address=" + busAddress},
                   {.environment = {"GSETTINGS_BACKEND=memory", "DISPLAY=" + xvfb.name(),
                                    "XDG_RUNTIME_DIR=" + runtime.path().string()}}};
  std::unique_ptr<ChildProcess> window;
  Rect entry, button;
  std::unique_ptr<HostProcess> host;
  uint16_t port = 0;
  DisplayID display = 0;
  std::unique_ptr<LoopbackClient> phone;
};

TEST_F(FocusTest, ClickingTheEntryAnswersEditableAndTheButtonNotWhateverTheToolkitAndItsScale) {
  const struct {
    const char* desktop;
    const char* gtk;
    std::vector<std::string> environment;
  } desktops[] = {
      {"GTK 3", "3", {}},
      {"GTK 3 at twice the pixels", "3", {"GDK_SCALE=2"}},
      {"GTK 4, its entry focused before the host came", "4", {}},
  };
  for (const auto& d : desktops) {
    SCOPED_TRACE(d.desktop);
    openWindow(d.gtk, d.environment);
    startHost();
    EXPECT_TRUE(eventually([] {  // turned on by the host for the whole session
      ChildProcess status({"dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                           "org.freedesktop.DBus.Properties.Get", "string:org.a11y.Status", "string:IsEnabled"});
      return status.waitForExit() == 0 && status.output().find("boolean true") != std::string::npos;
    }));
    click(entry);
    EXPECT_EQ(answer(), true) << host->output();
    click(button);
    EXPECT_EQ(answer(), false);
    phone.reset();
    host.reset();
    window.reset();
  }
}

TEST_F(FocusTest, OnlyTheLaterOfTwoQuickClicksIsAnsweredAndAStoppedApplicationStillGetsAnAnswerInTime) {
  openWindow("3");
  startHost();
  click(entry);
  ASSERT_EQ(answer(), true) << host->output();
  click(entry);
  std::this_thread::sleep_for(100ms);
  click(button);
  EXPECT_EQ(answer(), false);
  EXPECT_EQ(answer(1500ms), std::nullopt);

  click(entry);
  ASSERT_EQ(answer(), true);
  window->signal(SIGSTOP);
  const auto clicked = std::chrono::steady_clock::now();
  click(button);
  auto other = connect();  // welcomed while the check waits for the stopped window
  EXPECT_NE(answer(1500ms), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - clicked, 1500ms);
  window->signal(SIGCONT);
}

}  // namespace
}  // namespace vistaro::testing
