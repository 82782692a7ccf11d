#pragma once

#include <cstdio>
#include <string>

#include "control/controller_state.h"

namespace vistaro {

// The console status view of a host without a tray: one line per change, and
// the command that watches this host whenever the PIN or the port changes.
class HeadlessConsole {
 public:
  HeadlessConsole(std::string hostName, std::FILE* out) : hostName_(std::move(hostName)), out_(out) {}

  void show(const ControllerState& state);

  // The lines for a state, without printing them (the status line, and the
  // connect instructions when they changed since the last call).
  std::string render(const ControllerState& state);

 private:
  std::string hostName_;
  std::FILE* out_;
  std::string lastStatus_;
  std::string lastConnect_;
};

}  // namespace vistaro
