#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include "core/bytes.h"

namespace vistaro {

// Where a stream's peer connects from. `source` groups the addresses one party is likely to
// hold: an IPv4 address alone, an IPv6 address by its /64 (one LAN, one customer line).
struct PeerAddress {
  std::string address;  // numeric text; empty when unknown
  std::string source;
  bool operator==(const PeerAddress&) const = default;
};

// Errors a stream reports that are not the network's.
enum class StreamError {
  // The peer tried a key and it was not ours: for TLS-PSK, a wrong PIN.
  keyRejected = 1,
};
const std::error_category& streamCategory();
inline std::error_code make_error_code(StreamError error) { return {static_cast<int>(error), streamCategory()}; }

// An ordered, reliable byte stream: a TLS session over TCP, a plain socket in
// tests, an in-memory pipe. Every callback runs on the executor the stream was
// made for; read, write and cancel are called there too.
class ByteStream {
 public:
  enum class State { preparing, ready, waiting, failed, cancelled };

  using StateHandler = std::function<void(State, std::error_code)>;
  // Exactly the requested count, or fewer with endOfStream set, or an error. Memory for the
  // bytes grows as they arrive: a count announced by a peer reserves nothing by itself.
  using ReadHandler = std::function<void(std::error_code, Bytes, bool endOfStream)>;
  using WriteHandler = std::function<void(std::error_code)>;

  virtual ~ByteStream() = default;

  // Installs the state handler and starts the stream (for TLS: the handshake).
  virtual void start(StateHandler onState) = 0;
  virtual void readExactly(size_t count, ReadHandler done) = 0;
  // Whatever has arrived, at least one byte and at most `most` (none only with endOfStream
  // or an error). Streams that cannot do better hand out one byte at a time.
  virtual void readSome(size_t most, ReadHandler done) {
    (void)most;
    readExactly(1, std::move(done));
  }
  // The whole buffer goes out as one send; done is called once the stream has taken it.
  virtual void write(std::shared_ptr<const Bytes> bytes, WriteHandler done) = 0;
  // Ends the sending half after every write taken so far; done once those bytes are as far
  // towards the peer as the stream can tell. Without a half of its own, the stream stays open.
  virtual void finishWriting(WriteHandler done) { write(std::make_shared<const Bytes>(), std::move(done)); }
  // Ends the stream; the state handler then reports cancelled (once), before
  // any read or write still pending completes with an error.
  virtual void cancel() = 0;
  virtual PeerAddress peer() const { return {}; }
};

}  // namespace vistaro

template <>
struct std::is_error_code_enum<vistaro::StreamError> : std::true_type {};
