#include "integration/app/watching_client.h"

#include "client/frame_message.h"
#include "support/cross_thread_events.h"

namespace vistaro::testing {

WatchingClient::WatchingClient(uint16_t port, const std::string& pin, const std::string& name) {
  client::ClientOptions options;
  options.port = port;
  options.pin = pin;
  options.name = name;
  runOn(executor_, [&] {
    connection_ = client::ClientConnection::create(executor_, options);
    connection_->onWelcome = [this](const WelcomeMessage& welcome) {
      const bool first = welcomes.size() == 0 && frames.size() == 0;
      welcomes.put(welcome);
      if (first) request();
    };
    connection_->onError = [this](const ErrorMessage& error) { errors.put(error); };
    connection_->onFrame = [this](Bytes body) {
      WatchedFrame frame;
      if (auto message = client::parseFrameMessage(body)) {
        frame.parsed = true;
        frame.header = message->header;
        if (!message->base.empty()) frame.base = client::decodeJpeg(message->base);
      }
      frames.put(std::move(frame));
      request();
    };
    connection_->onClose = [this](std::optional<std::error_code>) { closed.put(true); };
    connection_->start();
  });
}

WatchingClient::~WatchingClient() {
  runOn(executor_, [&] {
    connection_->close();
    connection_.reset();
  });
}

void WatchingClient::request() {
  connection_->request(RequestMessage{std::nullopt, 0, 0, kBaseWidth, std::nullopt});
}

void WatchingClient::act(const std::function<void(client::ClientConnection&)>& action) {
  runOn(executor_, [&] { action(*connection_); });
}

void WatchingClient::forgetFrames() {
  while (frames.take(std::chrono::milliseconds(0))) {
  }
}

}  // namespace vistaro::testing
