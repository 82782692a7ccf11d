#pragma once

#include <future>
#include <memory>

#include "client/client_connection.h"
#include "integration/hub/mailbox.h"

namespace vistaro::testing {

// The reference client library on a thread of its own: welcomed, then every
// frame body lands in a mailbox. Requests are the test's to send.
class FrameClient {
 public:
  FrameClient(uint16_t port, bool patch);
  ~FrameClient();

  void request(const RequestMessage& message);
  // The client's thread stops (and so stops reading) inside its next frame callback until resume().
  void stallAtNextFrame();
  void resume();

  Mailbox<bool> welcomed;
  Mailbox<Bytes> frames;

 private:
  AsioExecutor executor_{"frame-client"};
  std::shared_ptr<client::ClientConnection> connection_;
  bool stallNext_ = false;  // client thread only
  std::promise<void> resumed_;
  std::shared_future<void> resumedFuture_{resumed_.get_future().share()};
};

}  // namespace vistaro::testing
