#include "server/fanout/frame_fanout.h"

#include <algorithm>

#include "server/fanout/frame_job.h"

namespace vistaro {

void FanoutRecord::requested(RequestMessage request) {
  const bool full = request.full.value_or(false);
  pending = std::move(request);
  credits = std::min(credits + 1, 2);
  if (full) {
    base.forget();
    detail.forget();
  }
}

std::shared_ptr<FrameFanout> FrameFanout::create(Executor& queue, Executor& encodeQueue, LayerEncoder& encoder) {
  return std::shared_ptr<FrameFanout>(new FrameFanout(queue, encodeQueue, encoder));
}

void FrameFanout::trySend(const std::shared_ptr<Client>& client) {
  if (auto job = jobFor(client)) encode({std::move(*job)});
}

std::optional<FrameFanout::Job> FrameFanout::jobFor(const std::shared_ptr<Client>& client) {
  FanoutRecord& record = client->fanout();
  if (!client->authenticated() || client->gone() || record.busy || record.credits < 1 || !record.pending ||
      !latest_) {
    return std::nullopt;
  }
  auto plan = planFrame(*latest_, *record.pending, record.patches, record.base, record.detail);
  if (!plan) return std::nullopt;
  record.credits -= 1;
  record.busy = true;
  return Job{client, std::move(*plan)};
}

void FrameFanout::encode(std::vector<Job> jobs) {
  if (jobs.empty()) return;
  // The jobs hold their clients, not the fan-out: a hub that is gone encodes nothing.
  encodeQueue_.post([weak = weak_from_this(), jobs = std::move(jobs)] {
    auto self = weak.lock();
    if (!self) return;
    std::vector<std::pair<std::shared_ptr<Client>, EncodedFrame>> done;
    for (const Job& job : jobs)
      done.emplace_back(job.client, encodeFrame(self->encodes_.forFrame(job.plan.frame.seq), job.plan));
    self->queue_.post([weak, done = std::move(done)]() mutable {
      auto self = weak.lock();
      if (!self) return;
      for (auto& [client, frame] : done) self->encoded(client, std::move(frame));
    });
  });
}

void FrameFanout::encoded(const std::shared_ptr<Client>& client, EncodedFrame frame) {
  if (client->gone()) return;
  FanoutRecord& record = client->fanout();
  // An image the client did not receive must not be patched later: send it whole next time.
  if (frame.baseIncomplete) record.base.forget();
  if (frame.detailIncomplete) record.detail.forget();
  client->connection().send(MessageType::frame, frame.body, [weak = weak_from_this(), client](std::error_code) {
    auto self = weak.lock();
    if (!self) return;
    self->queue_.post([weak, client] {
      client->fanout().busy = false;
      if (auto self = weak.lock()) self->trySend(client);
    });
  });
}

}  // namespace vistaro
