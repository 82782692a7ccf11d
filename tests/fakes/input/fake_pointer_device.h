#pragma once

#include <map>
#include <vector>

#include "input/pointer_event.h"

namespace vistaro::testing {

// Records the events it is given; displays are whatever the test puts in `displays`.
class FakePointerDevice final : public PointerDevice {
 public:
  bool isUsable = true;
  std::map<DisplayID, Rect> displays;
  std::vector<PointerEvent> events;

  bool usable() override { return isUsable; }
  std::optional<Rect> boundsOf(DisplayID id) override {
    if (auto found = displays.find(id); found != displays.end()) return found->second;
    return std::nullopt;
  }
  void post(const PointerEvent& event) override { events.push_back(event); }
};

}  // namespace vistaro::testing
