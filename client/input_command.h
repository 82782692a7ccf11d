#pragma once

#include <optional>
#include <string>
#include <vector>

#include "wire/messages.h"

namespace vistaro::client {

// One piece of input that vistaro-client sends once the host has welcomed it:
//   click X Y [--right] [--count N] [--display ID]     X, Y: fractions of the display
//   scroll DY [--dx DX] [--at X Y] [--display ID]      pixels, positive = towards the top
//   type TEXT [--backspaces N]
//   key NAME [--mod cmd|opt|ctrl|shift]...             NAME: return, left, ... or one character
//   headless on|off                                    the host's power saving (its own screens dark)
//   fit on [--screen WxH] [--text normal|large|small] [--fill] | fit off
//                                                      the host's desktop at this phone's proportions
struct InputCommand {
  std::optional<InputMessage> pointer;
  std::optional<KeyMessage> key;
  std::optional<bool> headless;
  std::optional<bool> fit;
  std::optional<ClientDisplayMessage> clientDisplay;  // sent before fit on
  // Without --display, pointer input goes to the display the host streams.
  bool displayGiven = false;
};

// Where the command (an input command or watch) starts among the arguments (arguments.size() when there is none).
size_t findInputCommand(const std::vector<std::string>& arguments);
// Absent, with the reason in error, when the command does not parse.
std::optional<InputCommand> parseInputCommand(const std::vector<std::string>& arguments, std::string& error);

inline constexpr char kInputUsage[] =
    "       ... click X Y [--right] [--count N] [--display ID] | scroll DY [--dx DX] [--at X Y] [--display ID]\n"
    "       ... type TEXT [--backspaces N] | key NAME [--mod cmd|opt|ctrl|shift]... | headless on|off\n"
    "       ... fit on [--screen WxH] [--text normal|large|small] [--fill] | fit off\n";

}  // namespace vistaro::client
