#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "core/asio_executor.h"
#include "core/manual_executor.h"
#include "platform/x11/x11_clipboard.h"
#include "platform/x11/x11_desktop_input.h"
#include "platform/x11/x11_keyboard.h"
#include "platform/x11/x11_monitors.h"
#include "platform/x11/x11_pointer.h"
#include "support/cross_thread_events.h"
#include "support/xvfb_server.h"

namespace vistaro {
namespace {

using testing::runOn;
using testing::XvfbServer;

constexpr auto kPatience = std::chrono::seconds(10);
constexpr int kRoundsAfterLoss = 20;

// As in the host: a write racing the server's death gets EPIPE instead of ending the process.
class HostSignals : public ::testing::Environment {
  void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }
};
const auto* const kHostSignals = ::testing::AddGlobalTestEnvironment(new HostSignals);

// A call stuck in Xlib can neither be undone nor joined: end the run rather than hang it.
void expectDone(std::future<void>& done, const char* what) {
  if (done.wait_for(kPatience) == std::future_status::ready) return;
  std::fprintf(stderr, "%s still hangs %lld s after the X server died\n", what,
               static_cast<long long>(kPatience.count()));
  std::fflush(stderr);
  std::_Exit(1);
}

// Uses a component from a thread of its own, round after round, until it has gone on for
// a while after the server's death: the loss lands in the middle of whatever call is running.
class Worker {
 public:
  Worker(const std::atomic<bool>& serverGone, std::function<void()> round)
      : thread_([this, &serverGone, round = std::move(round)] {
          for (int after = 0; after < kRoundsAfterLoss;) {
            bool gone = serverGone.load();
            round();
            if (gone) ++after;
          }
          finished_.set_value();
        }) {}
  ~Worker() { thread_.join(); }

  void expectFinished(const char* what) { expectDone(done_, what); }

 private:
  std::promise<void> finished_;
  std::future<void> done_ = finished_.get_future();
  std::thread thread_;
};

PointerEvent pointerEvent(int i) {
  PointerEvent event;
  event.type = static_cast<PointerEvent::Type>(i % 4);
  event.point = {double(i % 300), double(i % 200)};
  event.scrollY = 40;
  event.beginsGesture = true;
  return event;
}

TEST(X11InputLostServer, ServerKilledMidUseLeavesPointerKeyboardAndClipboardInertAndTheProcessAlive) {
  auto server = std::make_unique<XvfbServer>(640, 480);
  AsioExecutor keys{"test.keys"};
  x11::X11Pointer pointer{server->name()};
  x11::X11Clipboard clipboard{server->name()};
  std::unique_ptr<x11::X11Keyboard> keyboard;
  runOn(keys, [&] { keyboard = std::make_unique<x11::X11Keyboard>(keys, server->name()); });
  ASSERT_TRUE(pointer.usable());
  ASSERT_TRUE(keyboard->usable());
  ASSERT_TRUE(clipboard.usable());

  std::atomic<bool> serverGone{false};
  int pointerRound = 0;
  Worker pointerUser(serverGone, [&] {
    pointer.post(pointerEvent(pointerRound++));
    pointer.boundsOf(x11::monitorID("screen"));
  });
  // Characters outside the layout rebind spare keys: round trips, not just queued requests.
  Worker keyboardUser(serverGone, [&] {
    runOn(keys, [&] {
      keyboard->tap(0xe9, {});
      keyboard->tap(0x1000000 | 0x1f600, kControl);
      keyboard->tap('a', {});
    });
  });
  Worker clipboardUser(serverGone, [&] {
    clipboard.replaceContents({{"UTF8_STRING", "before the crash"}});
    clipboard.copyContents();
    clipboard.writeConcealedText("secret");
    clipboard.replaceContents({});
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  server.reset();
  serverGone = true;

  pointerUser.expectFinished("the pointer");
  keyboardUser.expectFinished("the keyboard");
  clipboardUser.expectFinished("the clipboard");
  EXPECT_FALSE(pointer.usable());
  EXPECT_FALSE(keyboard->usable());
  EXPECT_FALSE(clipboard.usable());
  EXPECT_EQ(pointer.boundsOf(x11::monitorID("screen")), std::nullopt);
  EXPECT_TRUE(clipboard.copyContents().empty());
  runOn(keys, [&] { keyboard.reset(); });
}

TEST(X11InputLostServer, KeyboardAndPointerGoOnAnotherThreadThanTheOneThatSawTheLoss) {
  auto server = std::make_unique<XvfbServer>(320, 200);
  AsioExecutor keys{"test.keys"};
  auto keyboard = std::make_unique<x11::X11Keyboard>(keys, server->name());
  auto pointer = std::make_unique<x11::X11Pointer>(server->name());
  // A spare key bound to a character is emptied again when the keyboard goes.
  runOn(keys, [&] { keyboard->tap(0xe9, {}); });
  server.reset();
  runOn(keys, [&] { keyboard->tap('a', {}); });
  std::thread([&] { pointer->post(pointerEvent(1)); }).join();

  std::promise<void> destroyed;
  std::future<void> done = destroyed.get_future();
  std::thread([&] {
    keyboard.reset();
    pointer.reset();
    destroyed.set_value();
  }).detach();
  expectDone(done, "destroying the keyboard and pointer");
}

TEST(X11InputLostServer, TheDesktopInputStopsBeingTrustedAndKeysStillDrain) {
  ManualExecutor main;
  XvfbServer server{320, 200};
  x11::X11DesktopInput desktop{main, CmdModifier::ctrl, server.name()};
  HubInput input = desktop.hubInput();
  ASSERT_TRUE(input.isInputTrusted());
  server.kill();
  InputMessage click;
  click.displayID = x11::monitorID("screen");
  input.injectPointerInput(click);
  input.enqueueKey(1, KeyMessage{.text = "é" + std::string(100, 'x'), .backspaces = 3, .key = std::nullopt, .modifiers = {}});
  input.enqueueKey(1, KeyMessage{.text = "ü", .backspaces = std::nullopt, .key = std::nullopt, .modifiers = {}});
  main.advance(std::chrono::seconds(10));
  EXPECT_EQ(main.pendingCount(), 0u);
  EXPECT_FALSE(input.isInputTrusted());
  EXPECT_FALSE(input.injectPointerInput(click));
}

TEST(X11InputLostServer, NoDisplayMeansNotTrusted) {
  ManualExecutor main;
  x11::X11DesktopInput desktop{main, CmdModifier::ctrl, ":4095"};
  HubInput input = desktop.hubInput();
  EXPECT_FALSE(input.isInputTrusted());
  EXPECT_FALSE(input.injectPointerInput(InputMessage{}));
  input.enqueueKey(1, KeyMessage{.text = "a", .backspaces = std::nullopt, .key = std::nullopt, .modifiers = {}});
  main.advance(std::chrono::seconds(10));
}

}  // namespace
}  // namespace vistaro
