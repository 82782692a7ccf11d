// vistaro-host as a process on a private Xvfb, watched through the reference client library.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "integration/app/host_process.h"
#include "integration/app/watching_client.h"
#include "integration/hub/test_client.h"
#include "support/xvfb_server.h"

// Last: Xlib's macros clash with the names above.
#include <X11/Xlib.h>

namespace vistaro {
namespace {

using testing::HostProcess;
using testing::WatchedFrame;
using testing::WatchingClient;
using testing::XvfbServer;
using namespace std::chrono_literals;

constexpr char kPin[] = "047211";  // a leading zero the settings must keep

struct Colour {
  int r, g, b;
  std::string hex() const { return fmt::format("#{:02x}{:02x}{:02x}", r, g, b); }
};

// Away from the centre, where a fresh server keeps the pointer.
bool shows(const WatchedFrame& frame, Colour colour) {
  if (!frame.base) return false;
  const uint8_t* pixel = frame.base->pixel(frame.base->width / 4, frame.base->height / 3);
  return std::abs(pixel[0] - colour.r) < 12 && std::abs(pixel[1] - colour.g) < 12 && std::abs(pixel[2] - colour.b) < 12;
}

// Frames until one shows the colour; that one, or nothing in time.
std::optional<WatchedFrame> frameShowing(WatchingClient& client, Colour colour) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    std::optional<WatchedFrame> frame = client.frames.take(1s);
    if (frame && shows(*frame, colour)) return frame;
  }
  return std::nullopt;
}

const DisplayInfo* displayNamed(const WelcomeMessage& welcome, const std::string& name) {
  for (const DisplayInfo& display : welcome.displays)
    if (display.name == name) return &display;
  return nullptr;
}

// Covers the whole screen with a new window of one colour, left behind when we disconnect so that
// no connection of ours is open when a test kills the server.
void paintScreen(const std::string& displayName, Colour colour) {
  Display* display = XOpenDisplay(displayName.c_str());
  ASSERT_TRUE(display);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = static_cast<unsigned long>(colour.r << 16 | colour.g << 8 | colour.b);
  const Window window = XCreateWindow(display, DefaultRootWindow(display), 0, 0, 
                                      DisplayWidth(display, 0), DisplayHeight(display, 0), 0, CopyFromParent,
                                      InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
  XMapRaised(display, window);
  XSetCloseDownMode(display, RetainPermanent);
  XCloseDisplay(display);
}

class HostProcessTest : public ::testing::Test {
 protected:
  void paint(Colour colour) { paintScreen(xvfb.name(), colour); }

  XvfbServer xvfb;
};

TEST_F(HostProcessTest, WatcherSeesTheDesktopChangeAndTheLastToLeaveStopsCapture) {
  HostProcess host(xvfb.name(), kPin);
  const uint16_t port = host.port();
  ASSERT_NE(port, 0) << host.output();
  EXPECT_TRUE(host.waitForOutput("clients: none | idle"));

  const size_t beforeClient = host.mark();
  auto watcher = std::make_unique<WatchingClient>(port, kPin);
  std::optional<WelcomeMessage> welcome = watcher->welcomes.take();
  ASSERT_TRUE(welcome);
  ASSERT_EQ(welcome->displays.size(), 1u);
  EXPECT_EQ(welcome->current, welcome->displays[0].id);
  EXPECT_TRUE(host.waitForOutput("clients: \"watcher\" | capturing", beforeClient)) << host.output();

  for (Colour colour : {Colour{200, 30, 30}, Colour{20, 60, 220}}) {
    paint(colour);
    std::optional<WatchedFrame> frame = frameShowing(*watcher, colour);
    ASSERT_TRUE(frame) << "no frame showed " << colour.hex();
    EXPECT_EQ(frame->header.displayID, welcome->current);
    EXPECT_EQ(frame->header.screenW, 1920);
    EXPECT_EQ(frame->header.screenH, 1080);
    EXPECT_EQ(frame->base->width, 960);
    EXPECT_EQ(frame->base->height, 540);
  }

  const size_t beforeLeaving = host.mark();
  watcher.reset();
  EXPECT_TRUE(host.waitForOutput("clients: none | idle", beforeLeaving)) << host.output();
  EXPECT_EQ(host.terminate(5s), 0);
}

TEST_F(HostProcessTest, SelectedMonitorIsStreamedAndRememberedAcrossRestarts) {
  ASSERT_EQ(xvfb.run({"xrandr", "--setmonitor", "left", "1280/338x1080/286+0+0", "screen"}), 0);
  ASSERT_EQ(xvfb.run({"xrandr", "--setmonitor", "right", "640/169x480/127+1280+0", "none"}), 0);
  HostProcess host(xvfb.name(), kPin);
  std::optional<DisplayID> right;
  {
    WatchingClient watcher(host.port(), kPin);
    std::optional<WelcomeMessage> welcome = watcher.welcomes.take();
    ASSERT_TRUE(welcome);
    ASSERT_EQ(welcome->displays.size(), 2u);
    ASSERT_TRUE(displayNamed(*welcome, "right"));
    right = displayNamed(*welcome, "right")->id;
    EXPECT_NE(welcome->current, *right);

    watcher.act([&](client::ClientConnection& connection) { connection.selectDisplay(*right); });
    std::optional<WelcomeMessage> updated = watcher.welcomes.take();
    ASSERT_TRUE(updated);
    EXPECT_EQ(updated->current, *right);
    paint({240, 240, 40});
    std::optional<WatchedFrame> frame = frameShowing(watcher, {240, 240, 40});
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->header.displayID, *right);
    EXPECT_EQ(frame->header.screenW, 640);
    EXPECT_EQ(frame->header.screenH, 480);
    EXPECT_EQ(frame->base->width, 640);  // never enlarged past the display
    EXPECT_EQ(frame->base->height, 480);
  }
  ASSERT_EQ(host.terminate(5s), 0);
  const nlohmann::json stored = nlohmann::json::parse(std::ifstream(host.settingsFile()));
  EXPECT_EQ(stored.value("pin", ""), kPin);
  EXPECT_EQ(stored.value("displayID", 0u), *right);

  host.start();
  WatchingClient watcher(host.port(), kPin);
  std::optional<WelcomeMessage> welcome = watcher.welcomes.take();
  ASSERT_TRUE(welcome);
  EXPECT_EQ(welcome->current, *right);
}

// Holds the preferred port on every address, as another program would.
class PortSquatter {
 public:
  explicit PortSquatter(uint16_t port) : fd_(socket(AF_INET6, SOCK_STREAM, 0)) {
    int no = 0;
    setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    address.sin6_addr = in6addr_any;
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd_, 1) == 0;
  }
  ~PortSquatter() { close(fd_); }
  bool bound() const { return bound_; }

 private:
  int fd_;
  bool bound_ = false;
};

TEST_F(HostProcessTest, OnlyTheRightPinGetsInEvenOnAFallbackPort) {
  PortSquatter squatter(52525);
  ASSERT_TRUE(squatter.bound()) << "the test's own network should have the port free";
  HostProcess host(xvfb.name(), kPin);
  const uint16_t port = host.port();
  ASSERT_NE(port, 0);
  EXPECT_NE(port, 52525);

  // A key made from another PIN fails the TLS handshake.
  WatchingClient intruder(port, "047212", "intruder");
  EXPECT_TRUE(intruder.closed.take());
  EXPECT_EQ(intruder.welcomes.size(), 0u);

  // The right key with another PIN in hello: the host's PIN changed after the phone connected.
  testing::TestClient stale("127.0.0.1", port, kPin);
  stale.hello("047212", "stale");
  std::optional<testing::TestClient::Message> refusal = stale.received.take();
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->type, MessageType::error);
  EXPECT_EQ(nlohmann::json::parse(refusal->body).value("code", ""), "auth");
  EXPECT_TRUE(stale.closed.take());

  WatchingClient watcher(port, kPin);
  EXPECT_TRUE(watcher.welcomes.take());
  EXPECT_EQ(host.terminate(5s), 0);
}

TEST_F(HostProcessTest, SigtermWhileWatchedEndsPromptlyWithStatusZero) {
  HostProcess host(xvfb.name(), kPin);
  WatchingClient watcher(host.port(), kPin);
  paint({10, 200, 90});
  ASSERT_TRUE(frameShowing(watcher, {10, 200, 90})) << host.output();

  const auto asked = std::chrono::steady_clock::now();
  EXPECT_EQ(host.terminate(5s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
  EXPECT_TRUE(watcher.closed.take());
}

// Where the desktop's pointer is, in root pixels.
std::optional<std::pair<int, int>> pointerOf(const std::string& displayName) {
  Display* display = XOpenDisplay(displayName.c_str());
  if (!display) return std::nullopt;
  Window root = 0, child = 0;
  int x = 0, y = 0, wx = 0, wy = 0;
  unsigned mask = 0;
  XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &wx, &wy, &mask);
  XCloseDisplay(display);
  return std::pair{x, y};
}

TEST_F(HostProcessTest, XServerThatDiesAndComesBackIsWatchedAndOperatedAgain) {
  HostProcess host(xvfb.name(), kPin);
  const uint16_t port = host.port();
  auto watcher = std::make_unique<WatchingClient>(port, kPin);
  paint({90, 90, 200});
  ASSERT_TRUE(frameShowing(*watcher, {90, 90, 200}));
  const DisplayID display = watcher->welcomes.take()->current;

  const size_t beforeDeath = host.mark();
  xvfb.kill();
  // The clients hear what happened, in words that say so.
  std::optional<ErrorMessage> error = watcher->errors.take();
  ASSERT_TRUE(error) << host.output();
  EXPECT_EQ(*error, (ErrorMessage{"capture", "ディスプレイサーバーとの接続が切れました"}));
  // Everything a phone may still send reaches X connections that have lost their server; a
  // second hello, answered after the rest, shows that the host read past it all.
  watcher->act([&](client::ClientConnection& connection) {
    connection.input(InputMessage{InputMessage::Kind::click, 0.5, 0.5, 1, display, {}, {}, {}});
    connection.input(InputMessage{InputMessage::Kind::scroll, 0.5, 0.5, 1, display, 0, 120, true});
    connection.key(KeyMessage{"héllo", std::nullopt, std::nullopt, {}});
    connection.key(KeyMessage{std::nullopt, 2, "return", {"cmd"}});
    connection.request(RequestMessage{std::nullopt, 0, 0, 640, true});
    connection.hello();
  });
  EXPECT_TRUE(watcher->welcomes.take()) << host.output();
  // A newcomer meanwhile is welcomed but shown no stale picture as if it were live.
  auto latecomer = std::make_unique<WatchingClient>(port, kPin, "latecomer");
  EXPECT_TRUE(latecomer->welcomes.take()) << host.output();
  EXPECT_FALSE(latecomer->frames.take(1s));
  ASSERT_TRUE(host.running()) << host.output();

  xvfb.restart();
  paint({200, 120, 40});
  ASSERT_TRUE(frameShowing(*latecomer, {200, 120, 40})) << host.output();
  ASSERT_TRUE(frameShowing(*watcher, {200, 120, 40})) << host.output();
  EXPECT_TRUE(host.waitForOutput("capturing", beforeDeath));
  // Input goes to the new server too.
  watcher->act([&](client::ClientConnection& connection) {
    connection.input(InputMessage{InputMessage::Kind::click, 0.25, 0.75, 1, display, {}, {}, {}});
  });
  std::optional<std::pair<int, int>> pointer;
  for (int i = 0; i < 50 && pointer != std::pair{480, 809}; ++i) {
    std::this_thread::sleep_for(100ms);
    pointer = pointerOf(xvfb.name());
  }
  EXPECT_EQ(pointer, (std::pair{480, 809}));
  watcher.reset();
  latecomer.reset();
  EXPECT_EQ(host.terminate(5s), 0) << host.output();
}

}  // namespace
}  // namespace vistaro
