#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "control/controller_state.h"

namespace vistaro {

// Holds the published state on the main executor and tells observers of each
// change; any thread may read the latest snapshot.
class StatePublisher {
 public:
  using Observer = std::function<void(const ControllerState&)>;

  explicit StatePublisher(ControllerState initial)
      : current_(initial), snapshot_(std::make_shared<const ControllerState>(std::move(initial))) {}

  const ControllerState& current() const { return current_; }
  std::shared_ptr<const ControllerState> snapshot() const { return snapshot_.load(); }

  // Main executor only; observers run there too.
  void observe(Observer observer) { observers_.push_back(std::move(observer)); }

  template <typename Change>
  void update(Change change) {
    ControllerState next = current_;
    change(next);
    if (next == current_) return;
    current_ = std::move(next);
    snapshot_.store(std::make_shared<const ControllerState>(current_));
    for (const Observer& observer : observers_) observer(current_);
  }

 private:
  ControllerState current_;
  std::atomic<std::shared_ptr<const ControllerState>> snapshot_;
  std::vector<Observer> observers_;
};

}  // namespace vistaro
