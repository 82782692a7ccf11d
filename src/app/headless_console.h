#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "control/controller_state.h"
#include "core/executor.h"

namespace vistaro {

// The console status view of a host without a tray: one line per change, and
// the command that watches this host whenever the PIN or the port changes. Changes
// that come faster than a few a second are shown as they stand then.
class HeadlessConsole {
 public:
  static constexpr Duration kMinInterval = std::chrono::milliseconds(250);
  // Beyond this many clients the line counts the others.
  static constexpr size_t kNamesShown = 5;

  HeadlessConsole(Executor& main, std::string hostName, std::FILE* out)
      : main_(main), hostName_(std::move(hostName)), out_(out) {}
  ~HeadlessConsole() { deferred_.cancel(); }
  HeadlessConsole(const HeadlessConsole&) = delete;
  HeadlessConsole& operator=(const HeadlessConsole&) = delete;

  // On the main executor.
  void show(const ControllerState& state);

  // The lines for a state, without printing them (the status line, and the
  // connect instructions when they changed since the last call).
  std::string render(const ControllerState& state);

 private:
  void print();

  Executor& main_;
  std::string hostName_;
  std::FILE* out_;
  std::string lastStatus_;
  std::string lastConnect_;
  ControllerState latest_;
  std::optional<TimePoint> lastPrint_;
  DelayedWork deferred_;
};

}  // namespace vistaro
