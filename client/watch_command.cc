#include "client/watch_command.h"

#include <charconv>
#include <cmath>

namespace vistaro::client {
namespace {

template <typename Number>
bool parseNumbers(const std::string& text, size_t count, std::vector<Number>& out) {
  out.clear();
  const char* at = text.data();
  const char* end = text.data() + text.size();
  while (out.size() < count) {
    Number value{};
    const auto [next, result] = std::from_chars(at, end, value);
    if (result != std::errc() || next == at) return false;
    if constexpr (std::is_floating_point_v<Number>) {
      if (!std::isfinite(value)) return false;
    }
    out.push_back(value);
    at = next;
    if (out.size() < count) {
      if (at == end || *at != ',') return false;
      ++at;
    }
  }
  return at == end;
}

}  // namespace

std::optional<WatchCommand> parseWatchCommand(const std::vector<std::string>& arguments, std::string& error) {
  if (arguments.empty() || arguments[0] != "watch") {
    error = "unknown command";
    return std::nullopt;
  }
  WatchCommand command;
  command.request.baseMaxW = 1440;
  command.request.detailMaxW = 1920;
  command.request.detailMaxH = 1200;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& flag = arguments[i];
    if (flag == "--patch") {
      command.patch = true;
      continue;
    }
    if (flag == "--full") {
      command.request.full = true;
      continue;
    }
    if (i + 1 >= arguments.size()) {
      error = "missing value for " + flag;
      return std::nullopt;
    }
    const std::string& value = arguments[++i];
    std::vector<double> reals;
    std::vector<int64_t> integers;
    if (flag == "--viewport" && parseNumbers(value, 4, reals)) {
      command.request.viewport = reals;
    } else if (flag == "--base-max-w" && parseNumbers(value, 1, integers)) {
      command.request.baseMaxW = integers[0];
    } else if (flag == "--detail-max" && parseNumbers(value, 2, integers)) {
      command.request.detailMaxW = integers[0];
      command.request.detailMaxH = integers[1];
    } else if (flag == "--frames" && parseNumbers(value, 1, integers) && integers[0] > 0) {
      command.frames = integers[0];
    } else if (flag == "--out" && !value.empty()) {
      command.out = value;
    } else {
      error = "bad " + flag + ": " + value;
      return std::nullopt;
    }
  }
  return command;
}

}  // namespace vistaro::client
