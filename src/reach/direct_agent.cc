#include "reach/direct_agent.h"

#include <asio/ip/address_v4.hpp>

#include <fmt/ranges.h>

#include "core/l10n.h"
#include "core/log.h"
#include "reach/hole_punch.h"
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
      store_(std::move(dependencies.store)),
      stunServers_(std::move(dependencies.stunServers)),
      records_(dependencies.records),
      port_(dependencies.preferredPort) {}

template <typename Work>
void DirectAgent::onQueue(Work work) {
  queue_.post([weak = weak_from_this(), work = std::move(work)]() mutable {
    if (auto agent = weak.lock()) work(*agent);
  });
}

void DirectAgent::start() {
  std::weak_ptr<DirectAgent> weak = weak_from_this();
  onQueue([weak](DirectAgent& agent) {
    if (!agent.stun_) {
      agent.stun_ = StunClient::create(agent.queue_, [weak](const quic::Endpoint& to, const uint8_t* data, size_t size) {
        if (auto self = weak.lock(); self && self->listener_) self->listener_->sendDatagram(to, data, size);
      });
    }
    if (!agent.listener_) agent.startListener(true);
  });
  if (!store_ || !records_ || poller_) return;
  KnockPoller::Events events;
  events.account = [weak](bool available, const std::string& problem) {
    if (auto agent = weak.lock()) {
      agent->onQueue([available, problem](DirectAgent& self) { self.accountChecked(available, problem); });
    }
  };
  events.knock = [weak](const std::string& nonce, const std::string& client, KnockPoller::Answer answer) {
    auto agent = weak.lock();
    if (!agent) return answer(std::nullopt);
    agent->onQueue([nonce, client, answer](DirectAgent& self) { self.handleKnock(nonce, client, answer); });
  };
  poller_ = KnockPoller::create({.executor = *records_, .store = store_, .id = id_}, std::move(events));
  poller_->start();
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
  logInfo(kCategory, "QUIC listener on UDP port {}", port_);
  listener_->onStunDatagram = [weak = weak_from_this()](const quic::Endpoint&, const uint8_t* data, size_t size) {
    if (auto agent = weak.lock(); agent && agent->stun_) agent->stun_->received(data, size);
  };
  if (std::exchange(listenerDown_, false) && accountAvailable_.value_or(false)) {
    postStatus("モバイル回線：接続できます");
  }
}

void DirectAgent::accountChecked(bool available, const std::string& problem) {
  if (!available && accountAvailable_ != false) logWarning(kCategory, "record store not available: {}", problem);
  accountAvailable_ = available;
  if (!available) return postStatus("モバイル回線：iCloudにサインインすると使えます");
  if (!listenerDown_ && listener_) postStatus("モバイル回線：接続できます");
}

void DirectAgent::handleKnock(const std::string& nonce, const std::string& client, KnockPoller::Answer answer) {
  // An answer names the listener's port: while none is up it would send the client nowhere.
  if (!listener_) {
    logWarning(kCategory, "knock {} from {} left unanswered: no QUIC listener is up", nonce, client);
    return answer(std::nullopt);
  }
  logInfo(kCategory, "knock {} from {}, listener port {}", nonce, client, port_);
  struct Lookups {
    std::optional<std::string> v6, v4;
    int pending = 2;
  };
  auto lookups = std::make_shared<Lookups>();
  std::weak_ptr<DirectAgent> weak = weak_from_this();
  auto learned = [weak, lookups, client, answer](bool v6, std::optional<std::string> endpoint) {
    (v6 ? lookups->v6 : lookups->v4) = std::move(endpoint);
    if (--lookups->pending > 0) return;
    auto agent = weak.lock();
    if (!agent) return answer(std::nullopt);
    agent->addressesLearned(client, lookups->v6, lookups->v4, answer);
  };
  stun_->publicAddress(stunServers_, true, [learned](std::optional<std::string> found) { learned(true, std::move(found)); });
  stun_->publicAddress(stunServers_, false, [learned](std::optional<std::string> found) { learned(false, std::move(found)); });
}

void DirectAgent::addressesLearned(const std::string& client, std::optional<std::string> v6,
                                   std::optional<std::string> v4, KnockPoller::Answer answer) {
  std::vector<std::string> endpoints;
  for (auto* found : {&v6, &v4}) {
    if (*found) endpoints.push_back(**found);
  }
  if (endpoints.empty()) {
    logWarning(kCategory, "could not learn our public address");
    postStatus("モバイル回線：アドレスを取得できません");
    return answer(std::nullopt);
  }
  const std::string mac = fmt::format("{}", fmt::join(endpoints, ","));
  const uint64_t generation = listenerGeneration_;
  punchHoles(queue_, listener_, parseCandidates(client), [weak = weak_from_this(), mac, generation, answer] {
    auto agent = weak.lock();
    // The listener the holes lead to went down meanwhile: its port is no longer ours to offer.
    if (!agent || !agent->listener_ || agent->listenerGeneration_ != generation) return answer(std::nullopt);
    answer(mac);
  });
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
