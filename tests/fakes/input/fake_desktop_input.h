#pragma once

#include <utility>
#include <vector>

#include "input/desktop_input.h"

namespace vistaro::testing {

// The desktop as the hub sees it, recorded; display 1 spans 1000 × 500 points.
class FakeDesktopInput final : public DesktopInput {
 public:
  bool isTrusted = true;
  bool keyQueueFull = false;
  std::vector<InputMessage> pointed;
  std::vector<KeyMessage> typed;
  std::vector<ClientID> droppedKeysOf;
  std::vector<std::pair<Point, std::function<void(bool)>>> focusChecks;

  bool trusted() override { return isTrusted; }
  bool pointer(const InputMessage& message) override {
    if (isTrusted) pointed.push_back(message);
    return isTrusted;
  }
  std::optional<Point> displayPoint(const InputMessage& message) override {
    return message.displayID == 1 ? std::optional(Point{message.x * 1000, message.y * 500}) : std::nullopt;
  }
  void keys(ClientID, KeyMessage message, std::function<void()> refused) override {
    if (keyQueueFull) return refused();
    typed.push_back(std::move(message));
  }
  void dropKeys(ClientID client) override { droppedKeysOf.push_back(client); }
  void checkFocusAfterClick(Point point, std::function<void(bool)> answer) override {
    focusChecks.emplace_back(point, std::move(answer));
  }
};

}  // namespace vistaro::testing
