// vistaro-host as a process on a private Xvfb, watched and operated through the reference client.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <fmt/format.h>

#include "support/child_process.h"
#include "support/host_process.h"
#include "support/loopback_client.h"
#include "support/xvfb_server.h"

#include <X11/Xlib.h>  // last: its macros clash with the names above

namespace vistaro {
namespace {

using namespace std::chrono_literals;
using testing::HostProcess;
using testing::LoopbackClient;
using Colour = std::array<int, 3>;

constexpr char kPin[] = "047211";  // a leading zero the settings must keep

// A phone watching: a frame asked for after the welcome and after every frame.
std::unique_ptr<LoopbackClient> watcher(uint16_t port, const std::string& name = "watcher") {
  return std::make_unique<LoopbackClient>(LoopbackClient::Options{
      .client = {.port = port, .pin = kPin, .name = name}, .pull = RequestMessage{std::nullopt, 0, 0, 960, std::nullopt}});
}

// The first frame to show the colour away from the centre, where a fresh server keeps the pointer.
std::optional<testing::WatchedFrame> frameShowing(LoopbackClient& client, Colour colour) {
  const auto body = client.frames.takeUntil([&](const Bytes& body) {
    const auto base = testing::watched(body).base;
    const uint8_t* pixel = base ? base->pixel(base->width / 4, base->height / 3) : nullptr;
    return pixel && std::abs(pixel[0] - colour[0]) + std::abs(pixel[1] - colour[1]) + std::abs(pixel[2] - colour[2]) < 30;
  });
  return body ? std::optional(testing::watched(*body)) : std::nullopt;
}

class HostProcessTest : public ::testing::Test {
 protected:
  // Paints the root window's own colour (nothing of ours stays connected when a test kills the
  // server) and waits for the client to see it.
  std::optional<testing::WatchedFrame> paintSeen(Colour colour, LoopbackClient& client) {
    EXPECT_EQ(xvfb.run({"xsetroot", "-solid", fmt::format("#{:02x}{:02x}{:02x}", colour[0], colour[1], colour[2])}), 0);
    return frameShowing(client, colour);
  }
  std::pair<int, int> pointer() {
    Display* display = XOpenDisplay(xvfb.name().c_str());
    Window root = 0, child = 0;
    int x = -1, y = -1, wx = 0, wy = 0;
    unsigned mask = 0;
    if (display) XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &wx, &wy, &mask);
    if (display) XCloseDisplay(display);
    return {x, y};
  }

  testing::XvfbServer xvfb;
};

TEST_F(HostProcessTest, WatcherSeesTheDesktopChangeAndTheLastToLeaveStopsCapture) {
  HostProcess host(xvfb.name(), kPin);
  auto phone = watcher(host.port());
  const auto welcome = phone->welcomes.take();
  ASSERT_TRUE(welcome && welcome->displays.size() == 1u && welcome->current == welcome->displays[0].id) << host.output();
  for (const Colour colour : {Colour{200, 30, 30}, Colour{20, 60, 220}}) {
    const auto frame = paintSeen(colour, *phone);
    ASSERT_TRUE(frame) << "no frame showed " << colour[0] << "," << colour[1] << "," << colour[2];
    EXPECT_EQ(std::tuple(frame->header.displayID, frame->header.screenW, frame->header.screenH, frame->base->width,
                         frame->base->height), std::tuple(welcome->current, 1920, 1080, 960, 540));
  }
  ASSERT_TRUE(host.waitForOutput("clients: \"watcher\" | capturing")) << host.output();
  const size_t beforeLeaving = host.mark();
  phone.reset();
  EXPECT_TRUE(host.waitForOutput("clients: none | idle", beforeLeaving)) << host.output();
}

TEST_F(HostProcessTest, SelectedMonitorIsStreamedAndRememberedAcrossRestarts) {
  ASSERT_EQ(xvfb.run({"xrandr", "--setmonitor", "left", "1280/338x1080/286+0+0", "screen"}), 0);
  ASSERT_EQ(xvfb.run({"xrandr", "--setmonitor", "right", "640/169x480/127+1280+0", "none"}), 0);
  HostProcess host(xvfb.name(), kPin);
  auto phone = watcher(host.port());
  const auto welcome = phone->welcomes.take();
  ASSERT_TRUE(welcome && welcome->displays.size() == 2u);
  const auto right = std::ranges::find(welcome->displays, "right", &DisplayInfo::name);
  ASSERT_TRUE(right != welcome->displays.end() && welcome->current != right->id);
  phone->act([&](client::ClientConnection& connection) { connection.selectDisplay(right->id); });
  EXPECT_TRUE(phone->welcomes.takeUntil([&](const WelcomeMessage& w) { return w.current == right->id; }));
  const auto frame = paintSeen({240, 240, 40}, *phone);
  ASSERT_TRUE(frame);
  EXPECT_EQ(std::tuple(frame->header.displayID, frame->header.screenW, frame->header.screenH, frame->base->width,
                       frame->base->height), std::tuple(right->id, 640, 480, 640, 480));  // never enlarged
  ASSERT_EQ(host.terminate(5s), 0);
  host.start();  // on the settings it wrote: the PIN with its leading zero, and the monitor
  EXPECT_EQ(LoopbackClient(host.port(), kPin).welcomes.take().value_or(WelcomeMessage{}).current, right->id);
}

TEST_F(HostProcessTest, OnlyTheRightPinGetsInEvenOnAFallbackPort) {
  const int squatter = socket(AF_INET6, SOCK_STREAM, 0);  // on every address, as another program would
  int no = 0;
  setsockopt(squatter, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
  sockaddr_in6 address{.sin6_family = AF_INET6, .sin6_port = htons(52525)};
  ASSERT_EQ(bind(squatter, reinterpret_cast<sockaddr*>(&address), sizeof address) | listen(squatter, 1), 0);
  HostProcess host(xvfb.name(), kPin);
  const uint16_t port = host.port();
  EXPECT_TRUE(port != 0 && port != 52525) << port;

  // The program, as a script runs it: a key made from another PIN fails in TLS, the right one is
  // welcomed and clicks.
  for (const auto& [pin, status] : {std::pair("047212", 1), std::pair(kPin, 0)}) {
    testing::ChildProcess program({VISTARO_BINARY_DIR "/client/vistaro-client", "--port", std::to_string(port), "--pin", pin,
                                   "--name=script", "click", "0.75", "0.25"});
    EXPECT_EQ(program.waitForExit(), status) << program.output();
    EXPECT_EQ(program.output().find("\nwelcome {\"current\":") != std::string::npos, status == 0) << program.output();
  }
  EXPECT_TRUE(testing::eventually([&] { return pointer() == std::pair{1439, 270}; })) << pointer().first;
  EXPECT_TRUE(host.waitForOutput("clients: \"script\"")) << host.output();
  EXPECT_EQ(host.terminate(5s), 0);
  close(squatter);
}

TEST_F(HostProcessTest, XServerThatDiesAndComesBackIsWatchedAndOperatedAgain) {
  HostProcess host(xvfb.name(), kPin);
  auto phone = watcher(host.port());
  ASSERT_TRUE(paintSeen({90, 90, 200}, *phone));
  const DisplayID display = phone->welcomes.take().value_or(WelcomeMessage{}).current;
  xvfb.kill();
  // The clients hear what happened, in words that say so.
  EXPECT_EQ(phone->errors.take(), (ErrorMessage{"capture", "ディスプレイサーバーとの接続が切れました"}))
      << host.output();
  // What a phone may still send reaches X connections that have lost their server; a second
  // hello, answered after the rest, shows that the host read past it all.
  phone->act([&](client::ClientConnection& connection) {
    connection.input(InputMessage{InputMessage::Kind::click, 0.5, 0.5, 1, display, {}, {}, {}});
    connection.input(InputMessage{InputMessage::Kind::scroll, 0.5, 0.5, 1, display, 0, 120, true});
    connection.key(KeyMessage{"héllo", std::nullopt, std::nullopt, {}});
    connection.key(KeyMessage{std::nullopt, 2, "return", {"cmd"}});
    connection.request(RequestMessage{std::nullopt, 0, 0, 640, true});
    connection.hello();
  });
  EXPECT_TRUE(phone->welcomes.take()) << host.output();
  // A newcomer meanwhile is welcomed but shown no stale picture as if it were live.
  auto latecomer = watcher(host.port(), "latecomer");
  EXPECT_TRUE(latecomer->welcomes.take()) << host.output();
  EXPECT_FALSE(latecomer->frames.take(1s));

  xvfb.restart();
  ASSERT_TRUE(paintSeen({200, 120, 40}, *latecomer)) << host.output();
  ASSERT_TRUE(frameShowing(*phone, {200, 120, 40})) << host.output();
  phone->act([&](client::ClientConnection& connection) {
    connection.input(InputMessage{InputMessage::Kind::click, 0.25, 0.75, 1, display, {}, {}, {}});
  });
  EXPECT_TRUE(testing::eventually([&] { return pointer() == std::pair{480, 809}; })) << pointer().first;
  EXPECT_EQ(host.terminate(5s), 0) << host.output();  // SIGTERM while watched
  EXPECT_TRUE(phone->closed.take() && latecomer->closed.take());
}

}  // namespace
}  // namespace vistaro
