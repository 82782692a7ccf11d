#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "client/client_connection.h"
#include "client/jpeg_image.h"
#include "core/asio_executor.h"
#include "integration/hub/mailbox.h"

namespace vistaro::testing {

// A frame as a phone sees it: the header and the layers it carried, decoded.
struct WatchedFrame {
  bool parsed = false;  // the body's header and lengths made sense
  FrameHeader header;
  std::optional<client::RgbImage> base;  // absent when not sent whole or when it does not decode
};

// The reference client on a thread of its own: connects with a PIN and, once
// welcomed, asks for a frame after each one it receives, like a phone watching.
class WatchingClient {
 public:
  static constexpr int kBaseWidth = 960;

  WatchingClient(uint16_t port, const std::string& pin, const std::string& name = "watcher");
  ~WatchingClient();

  // Runs on the client's thread, for the messages a phone sends.
  void act(const std::function<void(client::ClientConnection&)>& action);
  // Drops what has arrived so far, so the next frame taken is a fresh one.
  void forgetFrames();

  Mailbox<WelcomeMessage> welcomes;
  Mailbox<ErrorMessage> errors;
  Mailbox<WatchedFrame> frames;
  Mailbox<bool> closed;  // one entry when the connection has ended

 private:
  void request();

  AsioExecutor executor_{"watcher"};
  std::shared_ptr<client::ClientConnection> connection_;
};

}  // namespace vistaro::testing
