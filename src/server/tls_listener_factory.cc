#include "server/tls_listener_factory.h"

#include "core/lifetime_guard.h"
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
  void report(std::function<void()> news) { executor_.post(guard_.wrap(std::move(news))); }

  void cancel() override {
    guard_.end();
    if (listener_) listener_->cancel();
  }

  const LifetimeGuard& guard() const { return guard_; }

 private:
  Executor& executor_;
  std::shared_ptr<TlsListener> listener_;
  LifetimeGuard guard_;
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
  tls->relayedPeers = relayedPeers_;
  tls->onAccept = listener->guard().wrap([onAccept = std::move(handlers.onAccept)](std::shared_ptr<ByteStream> stream) {
    if (onAccept) onAccept(std::move(stream));
  });
  tls->start();
  listener->report([onReady = std::move(handlers.onReady), bound = tls->port()] {
    if (onReady) onReady(bound);
  });
  return listener;
}

}  // namespace vistaro
