#include "client/frame_watcher.h"

#include <fmt/format.h>

namespace vistaro::client {
namespace {

constexpr int kCredits = 2;

std::string sizeOf(const std::optional<RgbImage>& image, bool sent) {
  if (!sent) return "-";
  return image ? fmt::format("{}x{}", image->width, image->height) : "undecodable";
}

size_t countOf(const std::optional<std::vector<PatchInfo>>& patches) { return patches ? patches->size() : 0; }

}  // namespace

FrameWatcher::FrameWatcher(const Executor& clock, WatchCommand command, SendRequest send, Print print)
    : clock_(clock), command_(std::move(command)), send_(std::move(send)), print_(std::move(print)) {}

void FrameWatcher::start() {
  if (started_) return;
  started_ = true;
  for (int i = 0; i < kCredits; ++i) requestOne();
}

void FrameWatcher::requestOne() {
  if (command_.frames && requested_ >= *command_.frames) return;
  ++requested_;
  requestTimes_.push_back(clock_.now());
  send_(command_.request);
}

void FrameWatcher::onFrame(const Bytes& body) {
  ++received_;
  const auto message = parseFrameMessage(body);
  if (!message) {
    print_(fmt::format("frame {} bytes: unreadable", body.size()));
  } else {
    const bool applied = layers_.apply(*message);
    print_(describe(*message, body.size(), applied));
  }
  if (!requestTimes_.empty()) requestTimes_.pop_front();
  requestOne();
}

std::string FrameWatcher::describe(const FrameMessage& message, size_t bytes, bool applied) {
  const FrameHeader& header = message.header;
  // A frame answers the oldest request still open; unasked frames (none, from a sound host) show no latency.
  const std::string latency =
      requestTimes_.empty()
          ? "-"
          : fmt::format("{:.1f}ms", std::chrono::duration<double, std::milli>(clock_.now() - requestTimes_.front())
                                        .count());
  return fmt::format("frame seq={} bytes={} base={} detail={} patches={}+{} latency={}{}", header.seq, bytes,
                     sizeOf(layers_.base(), !message.base.empty()), sizeOf(layers_.detail(), !message.detail.empty()),
                     countOf(header.basePatches), countOf(header.detailPatches), latency,
                     applied ? "" : " (incomplete)");
}

bool FrameWatcher::writeLayers() const {
  if (!command_.out) return true;
  std::error_code error;
  std::filesystem::create_directories(*command_.out, error);
  bool written = true;
  if (layers_.base()) written = writePpm(*layers_.base(), *command_.out / "base.ppm") && written;
  if (layers_.detail()) written = writePpm(*layers_.detail(), *command_.out / "detail.ppm") && written;
  return written;
}

}  // namespace vistaro::client
