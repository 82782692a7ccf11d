#include "bench/peers/desktop.h"

#include <stdexcept>
#include <thread>

namespace vistaro::peers {
namespace {

constexpr int kKeysPerSecond = 15;

}  // namespace

Desktop::Desktop() {
  windowManager_ = start({"openbox"});
  // openbox owns the manager selection once it is up.
  if (!testing::eventually([&] {
        return testing::ChildProcess::run({"sh", "-c", "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window"},
                                          {.environment = {"DISPLAY=" + display()}}) == 0;
      })) {
    throw std::runtime_error("openbox did not start on " + display());
  }
}

std::unique_ptr<testing::ChildProcess> Desktop::start(const std::vector<std::string>& argv) {
  return std::make_unique<testing::ChildProcess>(
      argv, testing::ChildProcess::Options{.environment = {"DISPLAY=" + display()}, .log = "/dev/null"});
}

std::unique_ptr<testing::ChildProcess> Desktop::terminal(const std::string& command) {
  const std::string title = "bench-terminal-" + std::to_string(++terminals_);
  auto xterm = start({"xterm", "-T", title, "-geometry", "100x40+0+0", "-e", "sh", "-c", command});
  const auto xdotool = [&](const std::vector<std::string>& argv) {
    return testing::ChildProcess::run(argv, {.environment = {"DISPLAY=" + display()}}) == 0;
  };
  // openbox, busy starting, sometimes leaves the first map request unanswered: ask again. The focus is
  // set by us rather than asked of openbox.
  const bool shown = testing::eventually([&] {
    xdotool({"xdotool", "search", "--name", title, "windowmap"});
    return xdotool({"xdotool", "search", "--onlyvisible", "--name", title, "windowfocus", "--sync"});
  });
  if (!shown) throw std::runtime_error("the terminal did not appear");
  return xterm;
}

std::unique_ptr<testing::ChildProcess> Desktop::typist(int seconds) {
  static const std::string prose = "the quick brown fox jumps over the lazy dog while five boxing wizards jump\n";
  std::string text;
  while (text.size() < size_t(seconds + 5) * kKeysPerSecond) text += prose;
  return start({"xdotool", "type", "--delay", std::to_string(1000 / kKeysPerSecond), text});
}

}  // namespace vistaro::peers
