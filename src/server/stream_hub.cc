#include "server/stream_hub.h"

#include "core/l10n.h"

namespace vistaro {

std::shared_ptr<StreamHub> StreamHub::create(Dependencies dependencies) {
  return std::shared_ptr<StreamHub>(new StreamHub(std::move(dependencies)));
}

StreamHub::StreamHub(Dependencies dependencies)
    : queue_(dependencies.queue),
      listeners_(dependencies.listeners),
      advertiser_(dependencies.advertiser),
      input_(dependencies.input),
      preferredPort_(dependencies.preferredPort),
      fanout_(FrameFanout::create(dependencies.queue, dependencies.encodeQueue, dependencies.encoder)) {}

template <typename Work>
void StreamHub::postToQueue(Work work) {
  queue_.post([weak = weak_from_this(), work = std::move(work)]() mutable {
    if (auto hub = weak.lock()) work(*hub);
  });
}

void StreamHub::setEvents(Events events) {
  postToQueue([events = std::move(events)](StreamHub& hub) mutable { hub.events_ = std::move(events); });
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

void StreamHub::submit(CapturedFrame frame) {
  postToQueue([frame = std::move(frame)](StreamHub& hub) mutable { hub.fanout_->submit(std::move(frame), hub.sessions()); });
}

void StreamHub::clearLatest() {
  postToQueue([](StreamHub& hub) { hub.fanout_->clearLatest(); });
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
    if (events_.listenerState) events_.listenerState(localized("待受に失敗: ") + error.what(), std::nullopt);
  }
}

void StreamHub::listenerReady(std::optional<uint16_t> port) {
  if (events_.listenerState) events_.listenerState(localized("待受中"), port);
  if (port) advertiser_.advertise(serviceName_, *port);
}

void StreamHub::listenerFailed(std::optional<uint16_t> requestedPort, const std::string& description) {
  // The failed listener stays in listener_ (cancelled), so a PIN change still restarts it.
  if (listener_) listener_->cancel();
  if (requestedPort) {
    startListener(std::nullopt);
    return;
  }
  if (events_.listenerState) events_.listenerState(localized("待受に失敗: ") + description, std::nullopt);
  advertiser_.withdraw();
  listenerRetry_.schedule(queue_, kListenerRetryDelay, [weak = weak_from_this()] {
    if (auto hub = weak.lock()) hub->startListener(hub->preferredPort_);
  });
}

}  // namespace vistaro
