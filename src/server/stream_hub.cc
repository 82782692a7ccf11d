#include "server/stream_hub.h"

#include "core/l10n.h"

namespace vistaro {

std::shared_ptr<StreamHub> StreamHub::create(Dependencies dependencies) {
  return std::shared_ptr<StreamHub>(new StreamHub(std::move(dependencies)));
}

StreamHub::StreamHub(Dependencies dependencies)
    : queue_(dependencies.queue),
      encodeQueue_(dependencies.encodeQueue),
      encoder_(dependencies.encoder),
      mainQueue_(dependencies.mainQueue),
      listeners_(dependencies.listeners),
      advertiser_(dependencies.advertiser),
      input_(std::move(dependencies.input)),
      preferredPort_(dependencies.preferredPort) {}

template <typename Work>
void StreamHub::postToQueue(Work work) {
  queue_.post([weak = weak_from_this(), work = std::move(work)]() mutable {
    if (auto hub = weak.lock()) work(*hub);
  });
}

void StreamHub::start(std::string serviceName) {
  postToQueue([serviceName = std::move(serviceName)](StreamHub& hub) mutable {
    hub.serviceName_ = std::move(serviceName);
    hub.startListener(hub.preferredPort_);
  });
}

void StreamHub::setPin(std::string pin) {
  postToQueue([pin = std::move(pin)](StreamHub& hub) mutable {
    if (pin == hub.pin_) return;
    hub.pin_ = std::move(pin);
    // Only connections accepted from now on use the new key; clients already
    // connected keep their sessions.
    if (!hub.listener_) return;
    hub.listener_->cancel();
    hub.listener_.reset();
    hub.startListener(hub.preferredPort_);
  });
}

void StreamHub::submit(SharedPixels buffer, DisplayID display, double pointScale,
                       std::optional<std::vector<Rect>> changes) {
  postToQueue([buffer = std::move(buffer), display, pointScale, changes = std::move(changes)](StreamHub& hub) mutable {
    for (auto& [id, client] : hub.clients_) {
      client->base.addChanges(changes);
      client->detail.addChanges(changes);
    }
    hub.latest_ = LatestFrame{++hub.seq_, std::move(buffer), display, pointScale};
    // Copied: a send can end in a disconnect that changes the map.
    auto clients = hub.clients_;
    for (auto& [id, client] : clients) hub.sendFrame(client);
  });
}

void StreamHub::clearLatest() {
  postToQueue([](StreamHub& hub) { hub.latest_.reset(); });
}

void StreamHub::setWelcome(WelcomeMessage welcome) {
  postToQueue([welcome = std::move(welcome)](StreamHub& hub) mutable {
    hub.welcome_ = std::move(welcome);
    hub.sendToAuthed(MessageType::welcome, *hub.welcome_);
  });
}

void StreamHub::broadcastError(std::string code, std::string message) {
  postToQueue([error = ErrorMessage{std::move(code), std::move(message)}](StreamHub& hub) {
    hub.sendToAuthed(MessageType::error, error);
  });
}

void StreamHub::startListener(std::optional<uint16_t> port) {
  // A listener started for any reason makes a scheduled retry pointless.
  listenerRetry_.cancel();
  const uint64_t generation = ++listenerGeneration_;
  auto current = [weak = weak_from_this(), generation]() -> std::shared_ptr<StreamHub> {
    auto hub = weak.lock();
    return hub && hub->listenerGeneration_ == generation ? hub : nullptr;
  };
  Listener::Handlers handlers;
  handlers.onReady = [current](std::optional<uint16_t> bound) {
    if (auto hub = current()) hub->listenerReady(bound);
  };
  handlers.onFailed = [current, port](std::string description) {
    if (auto hub = current()) hub->listenerFailed(port, description);
  };
  handlers.onAccept = [weak = weak_from_this()](std::shared_ptr<ByteStream> stream) {
    if (auto hub = weak.lock()) hub->accept(std::move(stream));
  };
  try {
    listener_ = listeners_.listen(port, pin_, std::move(handlers));
  } catch (const std::exception& error) {
    // Not retried: a listener that cannot even be created will not be on a timer either.
    if (onListenerState) onListenerState(localized("待受に失敗: ") + error.what(), std::nullopt);
  }
}

void StreamHub::listenerReady(std::optional<uint16_t> port) {
  if (onListenerState) onListenerState(localized("待受中"), port);
  if (port) advertiser_.advertise(serviceName_, *port);
}

void StreamHub::listenerFailed(std::optional<uint16_t> requestedPort, const std::string& description) {
  // The failed listener stays in listener_ (cancelled), so a PIN change still restarts it.
  if (listener_) listener_->cancel();
  if (requestedPort) {
    startListener(std::nullopt);
    return;
  }
  if (onListenerState) onListenerState(localized("待受に失敗: ") + description, std::nullopt);
  advertiser_.withdraw();
  listenerRetry_.schedule(queue_, kListenerRetryDelay, [weak = weak_from_this()] {
    if (auto hub = weak.lock()) hub->startListener(hub->preferredPort_);
  });
}

}  // namespace vistaro
