#include "reach/direct_agent.h"

#include <asio/ip/address_v4.hpp>

#include "core/l10n.h"
#include "core/log.h"
#include "reach/plain_tcp_stream.h"

namespace vistaro {
namespace {

constexpr char kCategory[] = "direct";

}  // namespace

std::shared_ptr<DirectAgent> DirectAgent::create(std::string id, Dependencies dependencies) {
  return std::shared_ptr<DirectAgent>(new DirectAgent(std::move(id), std::move(dependencies)));
}

DirectAgent::DirectAgent(std::string id, Dependencies dependencies)
    : id_(std::move(id)),
      queue_(dependencies.queue),
      main_(dependencies.main),
      identityDirectory_(std::move(dependencies.identityDirectory)),
      identityFile_(std::move(dependencies.identityFile)),
      relayedPeers_(dependencies.relayedPeers),
      preferredPort_(dependencies.preferredPort),
      quicOptions_{.idleTimeout = dependencies.idleTimeout, .keepAlive = kKeepAlive},
      port_(dependencies.preferredPort) {}

template <typename Work>
void DirectAgent::onQueue(Work work) {
  queue_.post([weak = weak_from_this(), work = std::move(work)]() mutable {
    if (auto agent = weak.lock()) work(*agent);
  });
}

void DirectAgent::start() {
  onQueue([](DirectAgent& agent) {
    if (!agent.listener_) agent.startListener(true);
  });
}

void DirectAgent::setLocalPort(uint16_t port) {
  onQueue([port](DirectAgent& agent) { agent.localPort_ = port; });
}

void DirectAgent::postStatus(const char* text) {
  main_.post([weak = weak_from_this(), text = localized(text)] {
    if (auto agent = weak.lock(); agent && agent->onStatus) agent->onStatus(text);
  });
}

std::shared_ptr<const DirectIdentity> DirectAgent::loadIdentity() {
  std::string problem;
  auto identity = DirectIdentity::load(identityDirectory_, identityFile_, problem);
  if (!identity) logWarning(kCategory, "no identity for the QUIC listener: {}", problem);
  return identity;
}

void DirectAgent::startListener(bool preferFixedPort) {
  auto identity = loadIdentity();
  if (!identity) return postStatus("モバイル回線：準備できません（証明書）");
  std::error_code error;
  auto listener = quic::QuicListener::create(queue_, preferFixedPort ? preferredPort_ : 0, identity, quicOptions_, error);
  if (!listener) {
    logWarning(kCategory, "QUIC listener on UDP port {}: {}", preferFixedPort ? preferredPort_ : 0, error.message());
    if (preferFixedPort) return startListener(false);
    return listenerFailed();
  }
  const uint64_t generation = ++listenerGeneration_;
  std::weak_ptr<DirectAgent> weak = weak_from_this();
  listener->onFailed = [weak, generation, preferFixedPort](std::error_code failure) {
    auto agent = weak.lock();
    if (!agent || agent->listenerGeneration_ != generation) return;
    logWarning(kCategory, "QUIC listener on UDP port {} failed: {}", agent->port_, failure.message());
    agent->listener_->cancel();
    agent->listener_.reset();
    if (preferFixedPort) return agent->startListener(false);
    agent->listenerFailed();
  };
  listener->onStream = [weak](std::shared_ptr<quic::QuicStream> stream) {
    if (auto agent = weak.lock()) agent->acceptConnection(std::move(stream));
  };
  listener->start();
  listener_ = std::move(listener);
  listenerReady();
}

void DirectAgent::listenerReady() {
  port_ = listener_->port();
  listenerRetryDelay_ = kFirstRetryDelay;
  listenerDown_ = false;
  logInfo(kCategory, "QUIC listener on UDP port {}", port_);
}

void DirectAgent::listenerFailed() {
  listenerDown_ = true;
  postStatus("モバイル回線：待受に失敗しました（再試行します）");
  const Duration delay = listenerRetryDelay_;
  listenerRetryDelay_ = std::min(2 * delay, kLongestRetryDelay);
  listenerRetry_.schedule(queue_, delay, [weak = weak_from_this()] {
    if (auto agent = weak.lock(); agent && !agent->listener_) agent->startListener(true);
  });
}

void DirectAgent::acceptConnection(std::shared_ptr<ByteStream> incoming) {
  std::error_code error;
  auto local = localPort_ == 0 ? nullptr
                               : PlainTcpStream::connecting(queue_, {asio::ip::address_v4::loopback(), localPort_}, error);
  if (!local) {
    incoming->cancel();
    return;
  }
  // The hub credits the connection to the client, not to loopback, while the pipe lasts.
  std::shared_ptr<void> relayed = relayedPeers_ ? relayedPeers_->add(local->localPort(), incoming->peer()) : nullptr;
  auto pipe = ConnectionPipe::create(std::move(incoming), std::move(local), queue_);
  pipe->onClose = [weak = weak_from_this(), key = pipe.get(), relayed = std::move(relayed)] {
    if (auto agent = weak.lock()) agent->pipes_.erase(key);
  };
  pipes_[pipe.get()] = pipe;
  pipe->start();
}

}  // namespace vistaro
