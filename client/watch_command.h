#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "wire/messages.h"

namespace vistaro::client {

// vistaro-client ... watch: pull frames and keep the layers up to date.
struct WatchCommand {
  RequestMessage request;  // sent for every frame; full set when every frame must carry whole layers
  bool patch = false;      // announce "patch" and apply partial frames
  std::optional<int64_t> frames;  // leave after this many frames
  std::optional<std::filesystem::path> out;  // base.ppm and detail.ppm written here at the end
};

// Absent, with the reason in error, when the words after "watch" do not parse.
std::optional<WatchCommand> parseWatchCommand(const std::vector<std::string>& arguments, std::string& error);

inline constexpr char kWatchUsage[] =
    "       ... watch [--viewport X,Y,W,H] [--base-max-w N] [--detail-max W,H] [--patch] [--frames N]\n"
    "                 [--out DIR] [--full]\n";

}  // namespace vistaro::client
