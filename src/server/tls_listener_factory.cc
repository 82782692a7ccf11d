#include "server/tls_listener_factory.h"

#include "server/tls_listener.h"
#include "server/transport_parameters.h"

namespace vistaro {
namespace {

class TlsHubListener final : public Listener {
 public:
  TlsHubListener(Executor& executor, std::shared_ptr<TlsListener> listener)
      : executor_(executor), listener_(std::move(listener)) {}
  ~TlsHubListener() override { cancel(); }

  // Handlers are posted, never called from inside listen(); a cancel in
  // between silences them.
  void report(std::function<void()> news) {
    executor_.post([alive = alive_, news = std::move(news)] {
      if (*alive) news();
    });
  }

  void cancel() override {
    *alive_ = false;
    if (listener_) listener_->cancel();
  }

  const std::shared_ptr<bool>& alive() const { return alive_; }

 private:
  Executor& executor_;
  std::shared_ptr<TlsListener> listener_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace

std::unique_ptr<Listener> TlsListenerFactory::listen(std::optional<uint16_t> port, const std::string& pin,
                                                     Listener::Handlers handlers) {
  std::error_code error;
  auto tls = TlsListener::create(executor_, port.value_or(0), makeTransportParameters(pin), error);
  auto listener = std::make_unique<TlsHubListener>(executor_, tls);
  if (!tls) {
    listener->report([onFailed = std::move(handlers.onFailed), description = error.message()] {
      if (onFailed) onFailed(description);
    });
    return listener;
  }
  tls->onAccept = [alive = listener->alive(), onAccept = std::move(handlers.onAccept)](
                      std::shared_ptr<ByteStream> stream) {
    if (*alive && onAccept) onAccept(std::move(stream));
  };
  tls->start();
  listener->report([onReady = std::move(handlers.onReady), bound = tls->port()] {
    if (onReady) onReady(bound);
  });
  return listener;
}

}  // namespace vistaro
