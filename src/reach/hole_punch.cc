#include "reach/hole_punch.h"

#include <asio/ip/udp.hpp>

#include <string_view>

namespace vistaro {
namespace {

constexpr std::string_view kPayload = "vistaro punch";

struct PunchSeries {
  AsioExecutor& executor;
  std::weak_ptr<quic::DatagramSender> sender;
  std::function<void()> done;
  std::vector<quic::Endpoint> targets;
  size_t resolving = 0;
  asio::ip::udp::resolver resolver{executor.context()};

  void send(int round, std::shared_ptr<PunchSeries> self) {
    if (round == kPunchDatagrams || targets.empty()) return done();
    if (auto out = sender.lock()) {
      for (const auto& target : targets) out->sendDatagram(target, reinterpret_cast<const uint8_t*>(kPayload.data()), kPayload.size());
    }
    executor.postAfter(kPunchSpacing, [self, round] { self->send(round + 1, self); });
  }
};

}  // namespace

void punchHoles(AsioExecutor& executor, std::weak_ptr<quic::DatagramSender> sender, std::vector<Candidate> candidates,
                std::function<void()> done) {
  auto series = std::make_shared<PunchSeries>(PunchSeries{executor, std::move(sender), std::move(done), {}, candidates.size()});
  if (candidates.empty()) return series->done();
  for (const Candidate& candidate : candidates) {
    const auto family = candidate.v6 ? asio::ip::udp::v6() : asio::ip::udp::v4();
    series->resolver.async_resolve(family, candidate.host, std::to_string(candidate.port),
                                   [series](std::error_code error, asio::ip::udp::resolver::results_type found) {
                                     if (!error && !found.empty()) series->targets.push_back(found.begin()->endpoint());
                                     if (--series->resolving == 0) series->send(0, series);
                                   });
  }
}

}  // namespace vistaro
