#include "client/direct_dial.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "reach/candidates.h"
#include "reach/hole_punch.h"
#include "reach/random_hex_id.h"

namespace vistaro::client {

std::shared_ptr<DirectDial> DirectDial::start(AsioExecutor& executor, DirectOptions options, Done done) {
  std::shared_ptr<DirectDial> dial(new DirectDial(executor, std::move(options), std::move(done)));
  std::string problem;
  dial->store_ = makeRecordStore(dial->options_.store, problem);
  std::error_code error;
  if (dial->store_) {
    dial->socket_.open(asio::ip::udp::v4(), error);
    if (!error) dial->socket_.bind(quic::Endpoint(asio::ip::udp::v4(), 0), error);
    if (error) problem = "no UDP socket: " + error.message();
  }
  if (!problem.empty()) {
    executor.post([dial, problem] { dial->finish(std::nullopt, problem); });
    return dial;
  }
  std::weak_ptr<DirectDial> weak = dial;
  dial->stun_ = StunClient::create(executor, [weak](const quic::Endpoint& to, const uint8_t* data, size_t size) {
    if (auto self = weak.lock()) self->sendDatagram(to, data, size);
  });
  dial->receiveNext();
  dial->stun_->publicAddress(dial->options_.stunServers, false, [weak](std::optional<std::string> endpoint) {
    if (auto self = weak.lock()) self->learned(std::move(endpoint));
  });
  return dial;
}

void DirectDial::sendDatagram(const quic::Endpoint& to, const uint8_t* data, size_t size) {
  std::error_code ignored;
  socket_.send_to(asio::buffer(data, size), to, 0, ignored);
}

void DirectDial::receiveNext() {
  socket_.async_receive_from(asio::buffer(datagram_), from_, [weak = weak_from_this()](std::error_code error, size_t size) {
    auto self = weak.lock();
    if (!self || error == asio::error::operation_aborted || !self->socket_.is_open()) return;
    if (!error) self->stun_->received(self->datagram_.data(), size);
    self->receiveNext();
  });
}

void DirectDial::learned(std::optional<std::string> endpoint) {
  if (!endpoint) {
    return finish(std::nullopt, fmt::format("could not learn this client's public address from STUN ({})",
                                            fmt::join(options_.stunServers, ", ")));
  }
  if (auto problem = store_->checkAccount()) return finish(std::nullopt, "record store not available: " + problem->description);
  nonce_ = randomHexID();
  Record knock{.strings = {{"nonce", nonce_}, {"client", *endpoint}}, .at = WallClock::now(), .age = {}};
  if (auto problem = store_->save("knock-" + options_.directID, knock)) {
    return finish(std::nullopt, "could not knock: " + problem->description);
  }
  std::fprintf(stderr, "knocked from %s, waiting for the host's answer\n", endpoint->c_str());
  deadline_ = executor_.now() + options_.answerTimeout;
  pollAnswer();
}

void DirectDial::pollAnswer() {
  FetchResult fetched = store_->fetch("answer-" + options_.directID);
  if (fetched.record && fetched.record->strings["nonce"] == nonce_) return answered(fetched.record->strings["mac"]);
  Duration wait = std::chrono::seconds(1);
  if (fetched.problem && fetched.problem->kind == RecordProblem::Kind::accountUnavailable) {
    return finish(std::nullopt, "record store not available: " + fetched.problem->description);
  }
  if (fetched.problem && fetched.problem->kind == RecordProblem::Kind::throttled) {
    wait = std::max(wait, fetched.problem->retryAfter.value_or(std::chrono::seconds(30)));
  }
  if (executor_.now() + wait > deadline_) {
    return finish(std::nullopt, fmt::format("no answer from the host within {} s: is it running, on the same record store?",
                                            std::chrono::duration_cast<std::chrono::seconds>(options_.answerTimeout).count()));
  }
  executor_.postAfter(wait, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->pollAnswer();
  });
}

void DirectDial::answered(const std::string& mac) {
  // This socket speaks IPv4: the host's IPv4 endpoint is the one its punches opened for us.
  std::optional<Candidate> host;
  for (const Candidate& candidate : parseCandidates(mac)) {
    if (!candidate.v6 && !host) host = candidate;
  }
  if (!host) return finish(std::nullopt, "the host answered with no IPv4 endpoint: " + mac);
  std::fprintf(stderr, "the host answered: %s\n", mac.c_str());
  const std::string endpoint = host->host + ":" + std::to_string(host->port);
  punchHoles(executor_, weak_from_this(), {*host}, [weak = weak_from_this(), endpoint] {
    if (auto self = weak.lock()) {
      std::error_code error;
      self->finish(Reached{endpoint, self->socket_.local_endpoint(error).port()}, {});
    }
  });
}

void DirectDial::finish(std::optional<Reached> reached, std::string problem) {
  std::error_code ignored;
  socket_.close(ignored);  // the QUIC connection takes its port over
  if (auto done = std::exchange(done_, nullptr)) done(std::move(reached), std::move(problem));
}

}  // namespace vistaro::client
