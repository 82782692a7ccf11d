// Bytes from the network through FramedConnection, in segments of fuzzer-chosen sizes.
#include <cstddef>
#include <cstdint>

#include "core/manual_executor.h"
#include "fakes/wire/memory_stream.h"
#include "wire/framed_connection.h"

using namespace vistaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte sets the segment size, so splits land anywhere in prefix or body.
  const size_t segment = data[0] % 16 + 1;
  ++data;
  --size;

  ManualExecutor executor;
  auto [stream, peer] = testing::MemoryStream::makePair(executor);
  auto connection = FramedConnection::create(stream, executor);
  int closes = 0;
  size_t delivered = 0;
  connection->onMessage = [&](MessageType type, Bytes body) {
    if (!messageTypeFromCode(wireCode(type)) || body.size() >= FramedConnection::kMaxLength) __builtin_trap();
    delivered += body.size() + 5;
    if (delivered > size) __builtin_trap();
  };
  connection->onClose = [&](std::optional<std::error_code>) { ++closes; };
  connection->start();
  for (size_t at = 0; at < size; at += segment) {
    stream->injectBytes(Bytes(data + at, data + std::min(size, at + segment)));
    executor.runUntilIdle();
  }
  stream->injectEndOfStream();
  executor.runUntilIdle();
  if (closes != 1 || !connection->closed()) __builtin_trap();
  return 0;
}
