#include "integration/hub/test_client.h"

#include "server/tls_stream.h"
#include "server/transport_parameters.h"
#include "support/cross_thread_events.h"

namespace vistaro::testing {

TestClient::TestClient(const std::string& host, uint16_t port, const std::string& pin) {
  runOn(executor_, [&] {
    auto stream = TlsStream::connecting(executor_, host, port, makeTransportParameters(pin));
    connection_ = FramedConnection::create(stream, executor_);
    connection_->onMessage = [this](MessageType type, Bytes body) {
      received.put({type, std::string(body.begin(), body.end())});
    };
    connection_->onClose = [this](std::optional<std::error_code>) { closed.put(true); };
    connection_->start();
  });
}

TestClient::~TestClient() {
  runOn(executor_, [&] {
    connection_->onClose = nullptr;
    connection_->close();
    connection_.reset();
  });
}

void TestClient::send(MessageType type, const std::string& body) {
  runOn(executor_, [&] { connection_->send(type, Bytes(body.begin(), body.end())); });
}

void TestClient::hello(const std::string& pin, const std::string& name) {
  send(MessageType::hello, R"({"pin":")" + pin + R"(","name":")" + name + R"(","version":1})");
}

}  // namespace vistaro::testing
