#include "reach/stun_client.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

#include "reach/candidates.h"

namespace vistaro {

std::vector<std::string> defaultStunServers() { return {"stun.l.google.com:19302", "stun.cloudflare.com:3478"}; }

std::shared_ptr<StunClient> StunClient::create(AsioExecutor& executor, Send send) {
  return std::shared_ptr<StunClient>(new StunClient(executor, std::move(send)));
}

void StunClient::ask(const std::string& server, bool v6, Result done) {
  StunTransactionID transaction{};
  const auto target = splitEndpoint(server);
  if (!target || gnutls_rnd(GNUTLS_RND_NONCE, transaction.data(), transaction.size()) != 0) return done(std::nullopt);
  std::weak_ptr<StunClient> weak = weak_from_this();
  Cancellable timeout = executor_.postAfter(kTimeout, [weak, transaction] {
    if (auto self = weak.lock()) self->finish(transaction, std::nullopt);
  });
  exchanges_[transaction] = {std::move(done), timeout};
  const auto family = v6 ? asio::ip::udp::v6() : asio::ip::udp::v4();
  resolver_.async_resolve(family, target->host, std::to_string(target->port),
                          [weak, transaction](std::error_code error, asio::ip::udp::resolver::results_type found) {
                            auto self = weak.lock();
                            if (!self || !self->exchanges_.count(transaction)) return;
                            if (error || found.empty()) return self->finish(transaction, std::nullopt);
                            const StunRequest request = makeBindingRequest(transaction);
                            self->send_(found.begin()->endpoint(), request.data(), request.size());
                          });
}

void StunClient::publicAddress(std::vector<std::string> servers, bool v6, Result done) {
  if (servers.empty()) return done(std::nullopt);
  const std::string first = servers.front();
  servers.erase(servers.begin());
  ask(first, v6, [weak = weak_from_this(), servers = std::move(servers), v6, done = std::move(done)](
                     std::optional<std::string> found) mutable {
    auto self = weak.lock();
    if (found || !self) return done(std::move(found));
    self->publicAddress(std::move(servers), v6, std::move(done));
  });
}

void StunClient::received(const uint8_t* data, size_t size) {
  const auto transaction = stunTransaction(data, size);
  if (!transaction || !exchanges_.count(*transaction)) return;
  // A request or an indication with our transaction ID is no answer; an error response is one.
  if ((data[0] & 0x01) == 0) return;
  finish(*transaction, parseBindingResponse(data, size));
}

void StunClient::finish(const StunTransactionID& transaction, std::optional<std::string> result) {
  auto found = exchanges_.find(transaction);
  if (found == exchanges_.end()) return;
  Exchange exchange = std::move(found->second);
  exchanges_.erase(found);
  exchange.timeout.cancel();
  exchange.done(std::move(result));
}

}  // namespace vistaro
