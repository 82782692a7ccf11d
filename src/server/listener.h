#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "wire/byte_stream.h"

namespace vistaro {

// A listening socket that hands out client streams. Handlers run on the
// executor the listener was made for, never from inside listen() itself.
class Listener {
 public:
  struct Handlers {
    // Bound and accepting; the port is absent when it cannot be read.
    std::function<void(std::optional<uint16_t> port)> onReady;
    // Gave up (for example: the port is taken); the listener accepts nothing more.
    std::function<void(std::string description)> onFailed;
    // A new client stream, not yet started: its TLS handshake runs when it is started.
    std::function<void(std::shared_ptr<ByteStream>)> onAccept;
  };

  virtual ~Listener() = default;
  // Stops accepting and releases the port; streams already handed out keep
  // going. Destroying a listener cancels it.
  virtual void cancel() = 0;
};

class ListenerFactory {
 public:
  virtual ~ListenerFactory() = default;
  // Listens on the port, or on one the system picks when absent, with the
  // transport keyed by the PIN. Throws std::exception when the listener cannot
  // even be created; a port that cannot be bound is reported through onFailed.
  virtual std::unique_ptr<Listener> listen(std::optional<uint16_t> port, const std::string& pin,
                                           Listener::Handlers handlers) = 0;
};

}  // namespace vistaro
