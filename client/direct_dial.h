#pragma once

#include <asio/ip/udp.hpp>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/asio_executor.h"
#include "reach/quic/quic_connection.h"
#include "reach/record_store_factory.h"
#include "reach/stun_client.h"

namespace vistaro::client {

struct DirectOptions {
  std::string directID;
  RecordStoreSettings store;
  std::vector<std::string> stunServers = defaultStunServers();
  Duration answerTimeout = std::chrono::seconds(30);
};

// The client's half of the rendezvous: learns its public endpoint by STUN from a UDP port of its
// own, knocks with it ("knock-ID"), waits for the host's answer with the same nonce, punches
// towards the host from that port and hands the port on for the QUIC connection. The store's
// calls block this executor for a moment each: a command-line client has nothing else to do then.
class DirectDial : public std::enable_shared_from_this<DirectDial>, public quic::DatagramSender {
 public:
  struct Reached {
    std::string hostEndpoint;  // HOST:PORT for QUIC
    uint16_t localPort = 0;
  };
  // Exactly one of the two: where to connect, or why it cannot be reached.
  using Done = std::function<void(std::optional<Reached> reached, std::string problem)>;

  static std::shared_ptr<DirectDial> start(AsioExecutor& executor, DirectOptions options, Done done);
  void sendDatagram(const quic::Endpoint& to, const uint8_t* data, size_t size) override;

 private:
  DirectDial(AsioExecutor& executor, DirectOptions options, Done done)
      : executor_(executor), options_(std::move(options)), done_(std::move(done)), socket_(executor.context()) {}
  void receiveNext();
  void learned(std::optional<std::string> endpoint);
  void pollAnswer();
  void answered(const std::string& mac);
  void finish(std::optional<Reached> reached, std::string problem);

  AsioExecutor& executor_;
  DirectOptions options_;
  Done done_;
  asio::ip::udp::socket socket_;
  std::shared_ptr<StunClient> stun_;
  std::shared_ptr<RecordStore> store_;
  std::string nonce_;
  TimePoint deadline_{};
  std::array<uint8_t, 2048> datagram_{};
  quic::Endpoint from_;
};

}  // namespace vistaro::client
