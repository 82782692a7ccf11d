#pragma once

#include <vector>

#include "input/pointer_event.h"

namespace vistaro {

class RecordingPointerSink final : public PointerEventSink {
 public:
  void post(const PointerEvent& event) override { events.push_back(event); }
  std::vector<PointerEvent> events;
};

}  // namespace vistaro
