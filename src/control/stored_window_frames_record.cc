#include "control/stored_window_frames_record.h"

#include <cmath>

namespace vistaro {
namespace {

using nlohmann::json;

bool isNumberPair(const json& value) {
  return value.is_array() && value.size() == 2 && value[0].is_number() && value[1].is_number() &&
         std::isfinite(value[0].get<double>()) && std::isfinite(value[1].get<double>());
}

std::optional<StoredFrame> decode(const json& entry) {
  if (!entry.is_object()) return std::nullopt;
  const auto bundleID = entry.find("bundleID");
  const auto title = entry.find("title");
  const auto index = entry.find("index");
  const auto frame = entry.find("frame");
  if (bundleID == entry.end() || !bundleID->is_string() || title == entry.end() || !title->is_string() ||
      index == entry.end() || !index->is_number_integer() || frame == entry.end() || !frame->is_array() ||
      frame->size() != 2 || !isNumberPair((*frame)[0]) || !isNumberPair((*frame)[1])) {
    return std::nullopt;
  }
  const json& origin = (*frame)[0];
  const json& size = (*frame)[1];
  return StoredFrame{bundleID->get<std::string>(), title->get<std::string>(), index->get<int64_t>(),
                     Rect{origin[0].get<double>(), origin[1].get<double>(), size[0].get<double>(), size[1].get<double>()}};
}

}  // namespace

// A record that cannot be read as a whole matches nothing, but still counts as there.
std::optional<std::vector<StoredFrame>> StoredWindowFramesRecord::load() {
  const std::optional<json> stored = settings_.windowFramesBeforeFit();
  if (!stored) return std::nullopt;
  std::vector<StoredFrame> frames;
  if (!stored->is_array()) return frames;
  for (const json& entry : *stored) {
    std::optional<StoredFrame> frame = decode(entry);
    if (!frame) return std::vector<StoredFrame>{};
    frames.push_back(std::move(*frame));
  }
  return frames;
}

std::optional<std::string> StoredWindowFramesRecord::store(const std::optional<std::vector<StoredFrame>>& frames) {
  if (!frames) return settings_.setWindowFramesBeforeFit(std::nullopt);
  json list = json::array();
  for (const StoredFrame& f : *frames) {
    list.push_back({{"bundleID", f.bundleID},
                    {"title", f.title},
                    {"index", f.index},
                    {"frame", {{f.frame.x, f.frame.y}, {f.frame.width, f.frame.height}}}});
  }
  return settings_.setWindowFramesBeforeFit(list);
}

}  // namespace vistaro
