#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/executor.h"
#include "core/lifetime_guard.h"
#include "display/virtual_screen.h"
#include "platform/x11/randr_layout.h"
#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

// Fit mode through RandR: a mode of the client's size on every lit output, the framebuffer that size,
// every CRTC at its top left (the mirror) and one monitor over it all. What it changes is saved to
// `savedFile` first, so that a host that dies switched leaves the next one enough to put it back.
// Main executor, on a connection of its own.
class RandrVirtualScreen final : public VirtualScreen {
 public:
  RandrVirtualScreen(Executor& main, std::string displayName, std::filesystem::path savedFile);

  double pixelsPerPoint() override;
  void show(int64_t widthPx, int64_t heightPx, uint32_t serial, Done done) override;
  void restore() override;
  void restoreLeftovers() override;
  void centreCursor(std::optional<DisplayID> display) override;

 private:
  ::Display* display();
  std::optional<std::string> refusal(int64_t width, int64_t height);
  std::optional<std::string> switchTo(uint32_t width, uint32_t height, uint32_t serial);
  bool putBack(const ScreenLayout& layout);
  void forget();

  Executor& main_;
  std::string displayName_;
  std::filesystem::path savedFile_;
  std::unique_ptr<Connection> connection_;
  std::optional<ScreenLayout> saved_;  // as it was before the first switch
  std::optional<ScreenLayout> shown_;  // the switch in force
  LifetimeGuard guard_;
};

}  // namespace vistaro::x11
