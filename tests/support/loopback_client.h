#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "client/client_connection.h"
#include "client/jpeg_image.h"
#include "core/asio_executor.h"
#include "support/threads.h"

namespace vistaro::testing {

// A frame as a phone sees it: the header and the base layer, decoded.
struct WatchedFrame {
  bool parsed = false;  // the body's header and lengths made sense
  FrameHeader header;
  std::optional<client::RgbImage> base;  // absent when not sent whole or when it does not decode
};
WatchedFrame watched(const Bytes& body);

// The reference client on a thread of its own, against a host on loopback: what the host
// sends lands in mailboxes, and the test speaks for the phone.
class LoopbackClient {
 public:
  struct Options {
    client::ClientOptions client;
    // Present: asked for after the first welcome and after every frame, as a phone watching.
    std::optional<RequestMessage> pull;
  };

  explicit LoopbackClient(Options options);
  // A phone with the PIN on 127.0.0.1, welcomed without asking for frames.
  LoopbackClient(uint16_t port, const std::string& pin, const std::string& name = "phone");
  ~LoopbackClient();

  // Runs on the client's thread, with the connection.
  void act(const std::function<void(client::ClientConnection&)>& action);
  void send(MessageType type, const std::string& body);
  // The client's thread stops (and so stops reading) in its next frame until resume().
  void stallAtNextFrame();
  void resume();

  Mailbox<WelcomeMessage> welcomes;
  Mailbox<ErrorMessage> errors;
  Mailbox<FocusMessage> focus;
  Mailbox<Bytes> frames;
  Mailbox<bool> closed;  // one entry when the connection has ended

 private:
  void frameArrived(Bytes body);

  AsioExecutor executor_{"loopback"};
  std::shared_ptr<client::ClientConnection> connection_;
  std::optional<RequestMessage> pull_;
  bool pulling_ = false;  // client thread only
  bool stallNext_ = false;
  std::promise<void> resumed_;
};

}  // namespace vistaro::testing
