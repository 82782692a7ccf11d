// Message sequences from two clients against the hub on virtual time: one
// client starts authenticated, the other does not. Each record of the input
// is [connection and type][body length][body]; a type of 0xff lets time pass
// and 0xfe brings a new frame, so requests meet frames too.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/manual_executor.h"
#include "fakes/capture/fake_layer_encoder.h"
#include "fakes/input/fake_desktop_input.h"
#include "fakes/server/fake_listener.h"
#include "fakes/server/fake_service_advertiser.h"
#include "fakes/wire/memory_stream.h"
#include "server/stream_hub.h"

using namespace vistaro;
using namespace vistaro::testing;

namespace {

void inject(MemoryStream& stream, uint8_t code, const uint8_t* body, size_t size) {
  const uint32_t length = static_cast<uint32_t>(size + 1);
  Bytes bytes{static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
              static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), code};
  bytes.insert(bytes.end(), body, body + size);
  stream.injectBytes(std::move(bytes));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ManualExecutor queue;
  ManualExecutor other;
  FakeListenerFactory listeners;
  FakeServiceAdvertiser advertiser;
  FakeLayerEncoder encoder;
  FakeDesktopInput desktop;
  auto hub = StreamHub::create({queue, other, encoder, listeners, advertiser, desktop});
  hub->setPin("123456");
  hub->setWelcome({.hostName = "desk"});
  hub->start("Desk");
  queue.runUntilIdle();
  listeners.last().handlers.onReady(StreamHub::kPreferredPort);

  std::shared_ptr<MemoryStream> streams[2] = {std::make_shared<MemoryStream>(queue),
                                             std::make_shared<MemoryStream>(queue)};
  streams[1]->setPeer({"192.0.2.2", "192.0.2.2"});
  for (auto& stream : streams) listeners.last().handlers.onAccept(stream);
  const std::string hello = R"({"pin":"123456","name":"A","version":1,"features":["patch"]})";
  inject(*streams[0], wireCode(MessageType::hello), reinterpret_cast<const uint8_t*>(hello.data()), hello.size());
  queue.runUntilIdle();

  size_t at = 0;
  while (at + 2 <= size) {
    const uint8_t head = data[at];
    const size_t length = std::min<size_t>(data[at + 1], size - at - 2);
    const uint8_t* body = data + at + 2;
    at += 2 + length;
    if (head == 0xff) {
      // Time passes: focus answers come back (late, out of order), the desktop's trust and queue change.
      for (auto& [point, answer] : desktop.focusChecks) answer(point.x > 500);
      desktop.focusChecks.clear();
      desktop.isTrusted = length % 5 != 0;
      desktop.keyQueueFull = length % 3 == 0;
      queue.advance(std::chrono::milliseconds(length * 100));
      continue;
    }
    if (head == 0xfe) {
      auto frame = PixelBuffer::allocate(64 + length, 48);
      hub->submit({frame, 1, 2.0,
                   length % 2 ? DirtyRegion::unknown() : DirtyRegion::of({{1, 2, 3, static_cast<double>(length)}})});
      queue.runUntilIdle();
      other.runUntilIdle();
      queue.runUntilIdle();
      continue;
    }
    inject(*streams[head >> 7], head & 0x7f, body, length);
    queue.runUntilIdle();
    other.runUntilIdle();
  }
  queue.advance(std::chrono::seconds(30));
  return 0;
}
