#include "support/loopback_client.h"

#include <utility>

#include "client/frame_message.h"

namespace vistaro::testing {

WatchedFrame watched(const Bytes& body) {
  WatchedFrame frame;
  if (auto message = client::parseFrameMessage(body)) {
    frame.parsed = true;
    frame.header = message->header;
    if (!message->base.empty()) frame.base = client::decodeJpeg(message->base);
  }
  return frame;
}

LoopbackClient::LoopbackClient(uint16_t port, const std::string& pin, const std::string& name)
    : LoopbackClient(Options{.client = {.port = port, .pin = pin, .name = name}}) {}

LoopbackClient::LoopbackClient(Options options) : pull_(std::move(options.pull)) {
  runOn(executor_, [&] {
    connection_ = client::ClientConnection::create(executor_, std::move(options.client));
    connection_->onWelcome = [this](const WelcomeMessage& welcome) {
      welcomes.put(welcome);
      if (pull_ && !std::exchange(pulling_, true)) connection_->request(*pull_);
    };
    connection_->onError = [this](const ErrorMessage& error) { errors.put(error); };
    connection_->onFocus = [this](const FocusMessage& message) { focus.put(message); };
    connection_->onFrame = [this](Bytes body) { frameArrived(std::move(body)); };
    connection_->onClose = [this](std::optional<std::error_code>) { closed.put(true); };
    connection_->start();
  });
}

LoopbackClient::~LoopbackClient() {
  resume();
  runOn(executor_, [&] {
    connection_->onClose = nullptr;
    connection_->close();
    connection_.reset();
  });
}

void LoopbackClient::frameArrived(Bytes body) {
  if (std::exchange(stallNext_, false)) resumed_.get_future().wait();
  frames.put(std::move(body));
  if (pull_) connection_->request(*pull_);
}

void LoopbackClient::act(const std::function<void(client::ClientConnection&)>& action) {
  runOn(executor_, [&] { action(*connection_); });
}

void LoopbackClient::send(MessageType type, const std::string& body) {
  act([&](client::ClientConnection& connection) { connection.sendRaw(type, Bytes(body.begin(), body.end())); });
}

void LoopbackClient::stallAtNextFrame() {
  runOn(executor_, [&] {
    resumed_ = std::promise<void>();
    stallNext_ = true;
  });
}

void LoopbackClient::resume() {
  try {
    resumed_.set_value();
  } catch (const std::future_error&) {
    // Not stalled, or resumed already.
  }
}

}  // namespace vistaro::testing
