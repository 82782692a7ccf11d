#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "capture/captured_frame.h"
#include "capture/layer_encoder.h"
#include "core/executor.h"
#include "server/fanout/frame_job.h"
#include "server/fanout/frame_plan.h"
#include "server/fanout/shared_encodes.h"
#include "wire/framed_connection.h"

namespace vistaro {

// What the fan-out keeps for one client: its latest request, its credit and the layers it holds.
struct FanoutRecord {
  bool patches = false;  // the client applies partial frames
  std::optional<RequestMessage> pending;
  int credits = 0;
  bool busy = false;  // a frame message is being encoded or sent
  LayerRecord base;
  LayerRecord detail;

  // A request earns one credit (two at most); a "full" one forgets what the client holds.
  void requested(RequestMessage request);
};

// The sending half of the hub: the latest frame, and per client at most one frame message in
// flight, built from the newest frame when the client has credit. Frames that come while a
// client is busy are not queued: their changes add up and its next message starts from the
// newest. Lives on the hub's queue; encoding runs on the encode queue.
class FrameFanout : public std::enable_shared_from_this<FrameFanout> {
 public:
  // A client as the fan-out sees it; held by the encode job until its message is out.
  struct Client {
    virtual ~Client() = default;
    virtual FanoutRecord& fanout() = 0;
    virtual bool authenticated() const = 0;
    virtual bool gone() const = 0;
    virtual FramedConnection& connection() = 0;
  };

  static std::shared_ptr<FrameFanout> create(Executor& queue, Executor& encodeQueue, LayerEncoder& encoder);

  // The frame's changes count for every client given; the frame becomes the latest.
  template <typename Clients>
  void submit(CapturedFrame frame, const Clients& clients) {
    for (const auto& client : clients) {
      client->fanout().base.dirty.add(frame.changes);
      client->fanout().detail.dirty.add(frame.changes);
    }
    latest_ = LatestFrame{++seq_, std::move(frame.pixels), frame.display, frame.pointScale};
    std::vector<Job> jobs;
    for (const auto& client : clients) {
      if (auto job = jobFor(client)) jobs.push_back(std::move(*job));
    }
    encode(std::move(jobs));
  }
  // Requests wait for the next frame.
  void clearLatest() { latest_.reset(); }
  // Sends the client a frame message if it has credit, nothing in flight and something to get.
  void trySend(const std::shared_ptr<Client>& client);

 private:
  FrameFanout(Executor& queue, Executor& encodeQueue, LayerEncoder& encoder)
      : queue_(queue), encodeQueue_(encodeQueue), encodes_(encoder) {}
  struct Job {
    std::shared_ptr<Client> client;
    FramePlan plan;
  };
  // Plans the client's next message and spends its credit; absent when it gets none now.
  std::optional<Job> jobFor(const std::shared_ptr<Client>& client);
  // One hop to the encode queue and one back for all the jobs: a frame that many clients
  // watch costs two thread hand-overs, not two per client.
  void encode(std::vector<Job> jobs);
  void encoded(const std::shared_ptr<Client>& client, EncodedFrame frame);

  Executor& queue_;
  Executor& encodeQueue_;
  SharedEncodes encodes_;  // on the encode queue only
  std::optional<LatestFrame> latest_;
  uint64_t seq_ = 0;
};

}  // namespace vistaro
