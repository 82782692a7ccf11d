#pragma once

#include <fmt/format.h>

#include <string>
#include <vector>

#include "display/virtual_screen.h"

namespace vistaro::testing {

// Switches that finish when the test says so; every call is journalled in `calls`, which may be shared
// with other fakes: "show 800x1730 #1", "restore", "cursor 101", "cursor main", "leftovers".
class FakeVirtualScreen final : public VirtualScreen {
 public:
  explicit FakeVirtualScreen(std::vector<std::string>& calls) : calls_(calls) {}

  double scale = 1.0;
  // A switch gives display 100 + its serial, or fails with this text.
  std::string failure;
  std::vector<Done> pending;

  // Finishes the oldest pending switch.
  void finish() {
    Done done = std::move(pending.front());
    pending.erase(pending.begin());
    const DisplayID display = 100 + lastSerial_;
    if (failure.empty()) return done(display, "");
    done(std::nullopt, failure);
  }

  double pixelsPerPoint() override { return scale; }
  void show(int64_t widthPx, int64_t heightPx, uint32_t serial, Done done) override {
    calls_.push_back(fmt::format("show {}x{} #{}", widthPx, heightPx, serial));
    lastSerial_ = serial;
    pending.push_back(std::move(done));
  }
  void restore() override { calls_.push_back("restore"); }
  void restoreLeftovers() override { calls_.push_back("leftovers"); }
  void centreCursor(std::optional<DisplayID> display) override {
    calls_.push_back(display ? fmt::format("cursor {}", *display) : "cursor main");
  }

 private:
  std::vector<std::string>& calls_;
  uint32_t lastSerial_ = 0;
};

}  // namespace vistaro::testing
