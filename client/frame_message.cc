#include "client/frame_message.h"

namespace vistaro::client {
namespace {

// Hands out consecutive slices of the body; every length comes off the wire,
// so each is checked against what is left before it is taken.
class BodyCursor {
 public:
  explicit BodyCursor(const Bytes& body) : rest_(body) {}

  std::optional<FrameMessage::Image> take(int64_t length) {
    if (length < 0 || static_cast<uint64_t>(length) > rest_.size()) return std::nullopt;
    const auto slice = rest_.first(static_cast<size_t>(length));
    rest_ = rest_.subspan(static_cast<size_t>(length));
    return slice;
  }
  bool atEnd() const { return rest_.empty(); }

 private:
  std::span<const uint8_t> rest_;
};

bool takePatches(BodyCursor& cursor, const std::optional<std::vector<PatchInfo>>& infos,
                 std::vector<FrameMessage::Image>& images) {
  if (!infos) return true;
  for (const PatchInfo& info : *infos) {
    const auto image = cursor.take(info.len);
    if (!image) return false;
    images.push_back(*image);
  }
  return true;
}

}  // namespace

std::optional<FrameMessage> parseFrameMessage(const Bytes& body) {
  BodyCursor cursor(body);
  const auto prefix = cursor.take(4);
  if (!prefix) return std::nullopt;
  const uint32_t headerLength = (uint32_t{(*prefix)[0]} << 24) | (uint32_t{(*prefix)[1]} << 16) |
                                (uint32_t{(*prefix)[2]} << 8) | uint32_t{(*prefix)[3]};
  const auto headerBytes = cursor.take(headerLength);
  if (!headerBytes) return std::nullopt;
  auto header = decodeMessage<FrameHeader>(Bytes(headerBytes->begin(), headerBytes->end()));
  if (!header) return std::nullopt;

  FrameMessage message;
  message.header = std::move(*header);
  const auto base = cursor.take(message.header.baseLen);
  const auto detail = base ? cursor.take(message.header.detailLen) : std::nullopt;
  if (!detail) return std::nullopt;
  message.base = *base;
  message.detail = *detail;
  if (!takePatches(cursor, message.header.basePatches, message.basePatches) ||
      !takePatches(cursor, message.header.detailPatches, message.detailPatches) || !cursor.atEnd()) {
    return std::nullopt;
  }
  return message;
}

}  // namespace vistaro::client
