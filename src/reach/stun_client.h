#pragma once

#include <asio/ip/udp.hpp>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/asio_executor.h"
#include "reach/stun_message.h"

namespace vistaro {

// Learns under which public address and port a UDP socket is seen, by STUN Binding. It sends
// through the socket it is given (the QUIC listener's own, so that the answer names the port the
// listener is reached on) and is handed that socket's STUN datagrams; a reply counts only for the
// transaction it answers, so a stray datagram on the shared port is never taken for ours.
class StunClient : public std::enable_shared_from_this<StunClient> {
 public:
  using Send = std::function<void(const asio::ip::udp::endpoint& to, const uint8_t* data, size_t size)>;
  using Result = std::function<void(std::optional<std::string> endpoint)>;
  static constexpr Duration kTimeout = std::chrono::seconds(2);

  static std::shared_ptr<StunClient> create(AsioExecutor& executor, Send send);

  // From the executor. One server ("host:port"); nothing after 2 s, or when it cannot be asked.
  void ask(const std::string& server, bool v6, Result done);
  // Each server in turn until one answers with an address.
  void publicAddress(std::vector<std::string> servers, bool v6, Result done);
  // On the executor: a datagram from the socket that may be STUN.
  void received(const uint8_t* data, size_t size);

 private:
  StunClient(AsioExecutor& executor, Send send) : executor_(executor), send_(std::move(send)), resolver_(executor.context()) {}
  void finish(const StunTransactionID& transaction, std::optional<std::string> result);

  struct Exchange {
    Result done;
    Cancellable timeout;
  };
  AsioExecutor& executor_;
  Send send_;
  asio::ip::udp::resolver resolver_;
  std::map<StunTransactionID, Exchange> exchanges_;
};

// The two public servers tried when the settings name none.
std::vector<std::string> defaultStunServers();

}  // namespace vistaro
