#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "core/executor.h"
#include "wire/byte_stream.h"

namespace vistaro {

// Joins two streams, bytes unchanged in each direction, until either side ends. Each direction
// has one read outstanding and reads again only once the other side has taken the last chunk,
// so a slow side slows its peer and nothing queues up in between. The side that ends first
// has its sending half finished on the other side (its last bytes still arrive there) before
// both are cancelled; a failure cancels both at once.
class ConnectionPipe : public std::enable_shared_from_this<ConnectionPipe> {
 public:
  static constexpr size_t kMaxRead = 262144;

  // Both sides not yet started; every callback of theirs runs on `queue`.
  static std::shared_ptr<ConnectionPipe> create(std::shared_ptr<ByteStream> a, std::shared_ptr<ByteStream> b,
                                                Executor& queue);

  // Set before start(). onClose runs once, when the pipe closes; onFirstData once, on the
  // first bytes from b.
  std::function<void()> onClose;
  std::function<void()> onFirstData;

  void start();
  void close();
  bool closed() const { return closed_; }

 private:
  enum class Side { a, b };
  ConnectionPipe(std::shared_ptr<ByteStream> a, std::shared_ptr<ByteStream> b, Executor& queue)
      : a_(std::move(a)), b_(std::move(b)), queue_(queue) {}

  ByteStream& stream(Side side) const { return side == Side::a ? *a_ : *b_; }
  static Side other(Side side) { return side == Side::a ? Side::b : Side::a; }
  void pump(Side from);
  void forward(Side from, Bytes bytes, bool endOfStream);
  void ended(Side from);
  void tearDown();

  const std::shared_ptr<ByteStream> a_;
  const std::shared_ptr<ByteStream> b_;
  Executor& queue_;
  bool closed_ = false;
  bool ending_ = false;
};

}  // namespace vistaro
