#pragma once

#include <atomic>
#include <cstdint>
#include <future>
#include <thread>
#include <vector>

#include "bench/peers/watcher.h"

typedef struct _rfbClient rfbClient;

namespace vistaro::peers {

// libvncclient on a thread of its own, asking for Tight with JPEG at quality 72 and 4:2:0 where the
// server lets the client choose (the TurboVNC fine-quality and subsampling pseudo-encodings), and the
// nearest coarse quality level for servers that know only those.
class VncWatcher : public Watcher {
 public:
  // Throws when no RFB session comes up on 127.0.0.1:port within the patience.
  explicit VncWatcher(uint16_t port);
  ~VncWatcher() override;

  Clock::time_point pressKey(char letter) override;

 private:
  struct KeyPress {
    char letter;
    std::promise<Clock::time_point> sent;
  };

  void run();
  void sendPendingKey();
  void regionArrived(int x, int y, int w, int h);
  void updateFinished();

  rfbClient* client_ = nullptr;
  std::vector<uint8_t> shown_;  // the picture as of the last update, to tell changing updates apart
  bool changed_ = false;
  uint64_t bytesBefore_ = 0;
  testing::Mailbox<KeyPress> keys_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace vistaro::peers
