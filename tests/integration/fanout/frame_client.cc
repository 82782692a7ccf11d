#include "integration/fanout/frame_client.h"

#include <utility>

#include "support/cross_thread_events.h"

namespace vistaro::testing {

FrameClient::FrameClient(uint16_t port, bool patch) {
  client::ClientOptions options;
  options.port = port;
  options.pin = "123456";
  if (patch) options.features = {"patch"};
  runOn(executor_, [&] {
    connection_ = client::ClientConnection::create(executor_, options);
    connection_->onWelcome = [this](const WelcomeMessage&) { welcomed.put(true); };
    connection_->onFrame = [this](Bytes body) {
      frames.put(std::move(body));
      if (std::exchange(stallNext_, false)) resumedFuture_.wait();
    };
    connection_->start();
  });
}

FrameClient::~FrameClient() {
  resume();
  runOn(executor_, [&] {
    connection_->close();
    connection_.reset();
  });
}

void FrameClient::request(const RequestMessage& message) {
  runOn(executor_, [&] { connection_->request(message); });
}

void FrameClient::stallAtNextFrame() {
  runOn(executor_, [&] { stallNext_ = true; });
}

void FrameClient::resume() {
  try {
    resumed_.set_value();
  } catch (const std::future_error&) {
    // already resumed
  }
}

}  // namespace vistaro::testing
