#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "core/executor.h"
#include "input/desktop_input.h"
#include "server/fanout/frame_fanout.h"
#include "server/hub_events.h"
#include "wire/byte_stream.h"
#include "wire/framed_connection.h"
#include "wire/messages.h"

namespace vistaro {

// One client connection of the hub, on the hub's queue: the PIN handshake, the messages an
// authenticated client may send, and what the fan-out keeps for it.
class ClientSession final : public FrameFanout::Client, public std::enable_shared_from_this<ClientSession> {
 public:
  using ID = uint64_t;

  static constexpr Duration kAuthDeadline = std::chrono::seconds(10);
  static constexpr Duration kPinErrorDelay = std::chrono::seconds(1);
  // Before its hello is accepted a client may send nothing longer than a generous hello.
  static constexpr uint32_t kMaxUnauthenticatedLength = 64 * 1024;

  // What a session needs of the hub that owns it; called on the hub's queue.
  class Owner {
   public:
    virtual ~Owner() = default;
    virtual bool pinMatches(const std::string& pin) const = 0;
    virtual const HubEvents& events() const = 0;
    virtual void authenticated(const std::shared_ptr<ClientSession>& session) = 0;
    virtual void authFailed(const ClientSession& session) = 0;
    virtual void requested(const std::shared_ptr<ClientSession>& session) = 0;
    virtual void closed(const ClientSession& session, const std::optional<std::error_code>& error) = 0;
  };

  // Starts reading; the owner hears of the session only through its callbacks.
  static std::shared_ptr<ClientSession> start(ID id, std::shared_ptr<ByteStream> stream, Executor& queue,
                                              std::weak_ptr<Owner> owner, DesktopInput& input);

  ID id() const { return id_; }
  const PeerAddress& peer() const { return peer_; }
  const std::string& name() const { return name_; }
  bool authenticated() const override { return authed_; }
  bool gone() const override { return connection_->closed(); }
  FanoutRecord& fanout() override { return fanout_; }
  FramedConnection& connection() override { return *connection_; }

  template <typename Message>
  void send(MessageType type, const Message& message) {
    if (auto body = encodeMessage(message)) connection_->send(type, *body);
  }
  // Ends the connection; the owner's closed() follows.
  void cancel() { connection_->cancelStream(); }

 private:
  ClientSession(ID id, std::shared_ptr<ByteStream> stream, Executor& queue, std::weak_ptr<Owner> owner,
                DesktopInput& input);
  void dispatch(MessageType type, const Bytes& body);
  void handshake(const Bytes& body);
  void refusePin();
  void pointer(const InputMessage& message);
  void keys(const KeyMessage& message);
  void refuseInput();

  const ID id_;
  const PeerAddress peer_;
  Executor& queue_;
  std::weak_ptr<Owner> owner_;
  DesktopInput& input_;
  std::shared_ptr<FramedConnection> connection_;
  std::string name_ = "iPhone";
  bool authed_ = false;
  // The connection is already doomed by a wrong PIN; more wrong PINs add no timers.
  bool pinRefused_ = false;
  int64_t clickSeq_ = 0;
  FanoutRecord fanout_;
};

}  // namespace vistaro
