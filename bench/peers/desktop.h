#pragma once

#include <memory>
#include <string>

#include "support/child_process.h"
#include "support/xvfb_server.h"

namespace vistaro::peers {

// A 1920 × 1080 Xvfb with openbox, and the programs the workloads run on it.
class Desktop {
 public:
  Desktop();

  const std::string& display() const { return xvfb_.name(); }
  pid_t serverPid() const { return xvfb_.pid(); }

  // An xterm at the top left running the shell command, shown and holding the keyboard focus.
  std::unique_ptr<testing::ChildProcess> terminal(const std::string& command);
  // Types prose into the focused window at 15 keys a second for about the given time.
  std::unique_ptr<testing::ChildProcess> typist(int seconds);
  // Runs a program on this display, its output dropped.
  std::unique_ptr<testing::ChildProcess> start(const std::vector<std::string>& argv);

 private:
  testing::XvfbServer xvfb_{1920, 1080};
  std::unique_ptr<testing::ChildProcess> windowManager_;
  int terminals_ = 0;
};

// The shell commands of the two workloads' terminals.
inline constexpr char kSwallowTyping[] = "cat > /dev/null";
// Log-like lines of differing lengths, so that scrolling moves text across the whole terminal.
inline constexpr char kScroll2000LinesPerSecond[] =
    "n=0; while :; do awk -v n=$n 'BEGIN { for (i = n; i < n + 200; ++i) { s = i \": \"; "
    "for (j = 0; j < i % 11 + 2; ++j) s = s \"event\" (i * j % 97) \" \"; print s } }'; "
    "n=$((n+200)); sleep 0.1; done";

}  // namespace vistaro::peers
