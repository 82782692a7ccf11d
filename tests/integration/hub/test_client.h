#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/asio_executor.h"
#include "integration/hub/mailbox.h"
#include "server/framed_connection.h"

namespace vistaro::testing {

// A client over real TLS on its own thread: connects, sends raw JSON bodies,
// collects what the host sends and notices the end of the connection.
class TestClient {
 public:
  struct Message {
    MessageType type;
    std::string body;
  };

  TestClient(const std::string& host, uint16_t port, const std::string& pin);
  ~TestClient();

  void send(MessageType type, const std::string& body);
  void hello(const std::string& pin, const std::string& name);

  Mailbox<Message> received;
  Mailbox<bool> closed;  // one entry when the connection has ended

 private:
  AsioExecutor executor_{"test-client"};
  std::shared_ptr<FramedConnection> connection_;
};

}  // namespace vistaro::testing
