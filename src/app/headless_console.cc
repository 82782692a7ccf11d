#include "app/headless_console.h"

#include <fmt/format.h>

#include "platform/linux/local_addresses.h"
#include "core/l10n.h"

namespace vistaro {
namespace {

std::string join(const std::vector<std::string>& items, const char* separator) {
  std::string joined;
  for (const std::string& item : items) {
    if (!joined.empty()) joined += separator;
    joined += item;
  }
  return joined;
}

// Quoted, so that a name cannot pass for another field of the line.
std::string clientList(const std::vector<std::string>& names) {
  if (names.empty()) return "none";
  std::vector<std::string> shown;
  for (size_t i = 0; i < names.size() && i < HeadlessConsole::kNamesShown; ++i) shown.push_back('"' + names[i] + '"');
  std::string list = join(shown, ", ");
  if (names.size() > shown.size()) list += fmt::format(" and {} more", names.size() - shown.size());
  return list;
}

std::string statusLine(const ControllerState& state) {
  std::string line = state.listenerStatus;
  if (state.port) line += fmt::format(" :{}", *state.port);
  line += fmt::format(" | PIN {}", state.pin);
  line += " | clients: " + clientList(state.clientNames);
  line += state.capturing ? " | capturing" : " | idle";
  if (state.powerSaving) line += " | power saving: screens dark";
  if (state.failedPinAttempts > 0) {
    line += fmt::format(" | {} failed PIN attempts, the latest from {}", state.failedPinAttempts,
                        state.failedPinAddress);
  }
  if (!state.directStatus.empty()) line += " | " + state.directStatus;
  if (!state.hasInputPermission) line += " | input cannot be injected";
  if (state.lastError) line += " | last error: " + *state.lastError;
  return line;
}

std::string connectLines(const std::string& hostName, const ControllerState& state) {
  if (!state.port) return {};
  std::vector<std::string> addresses = localAddresses();
  if (addresses.empty()) addresses.push_back("127.0.0.1");
  std::string lines = fmt::format("{}: PIN {}, port {}, addresses {}\n", hostName, state.pin, *state.port,
                                  join(addresses, ", "));
  lines += fmt::format("watch it with: vistaro-client --host {} --port {} --pin {} watch\n", addresses.front(),
                       *state.port, state.pin);
  return lines;
}

}  // namespace

std::string HeadlessConsole::render(const ControllerState& state) {
  std::string output;
  const std::string connect = connectLines(hostName_, state);
  if (connect != lastConnect_) {
    lastConnect_ = connect;
    output += connect;
  }
  const std::string status = statusLine(state);
  if (status != lastStatus_) {
    lastStatus_ = status;
    output += status + "\n";
  }
  return output;
}

void HeadlessConsole::show(const ControllerState& state) {
  latest_ = state;
  const TimePoint now = main_.now();
  if (!lastPrint_ || now - *lastPrint_ >= kMinInterval) return print();
  deferred_.schedule(main_, *lastPrint_ + kMinInterval - now, [this] { print(); });
}

void HeadlessConsole::print() {
  deferred_.cancel();
  lastPrint_ = main_.now();
  const std::string output = render(latest_);
  if (output.empty()) return;
  std::fputs(output.c_str(), out_);
  std::fflush(out_);
}

}  // namespace vistaro
