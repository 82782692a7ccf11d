#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "input/accessibility.h"
#include "platform/linux/application_windows.h"
#include "platform/linux/gmain_executor.h"

namespace vistaro {

class AtspiDesktop;

// The focus check's accessibility on a Linux desktop (AT-SPI 2). Its calls hop onto the one
// GLib loop thread that owns libatspi and wait for the answer, at most kCallPatience: an
// answer later than that (or while an earlier one is still being worked out) is "absent",
// so a stopped application never holds up the caller's queue for longer.
class AtspiAccessibility final : public Accessibility {
 public:
  static constexpr std::chrono::milliseconds kCallPatience{400};

  explicit AtspiAccessibility(std::unique_ptr<ApplicationWindows> windows);
  ~AtspiAccessibility() override;
  AtspiAccessibility(const AtspiAccessibility&) = delete;
  AtspiAccessibility& operator=(const AtspiAccessibility&) = delete;

  ElementRef focusedApplication() override;
  ElementRef focusedElement() override;
  std::optional<std::string> role(const ElementRef& element) override;
  ElementRef editableAncestor(const ElementRef& element) override;
  std::optional<Rect> frame(const ElementRef& element) override;
  std::optional<int32_t> processID(const ElementRef& element) override;
  std::optional<std::string> bundleIdentifier(int32_t pid) override;
  void request(const ElementRef& application, AccessibilityRequest request) override;

 private:
  template <typename Result>
  Result ask(std::function<Result(AtspiDesktop&)> question);

  std::unique_ptr<ApplicationWindows> windows_;
  std::unique_ptr<AtspiDesktop> desktop_;  // made, used and dropped on the loop
  GMainExecutor loop_{"velmora.atspi"};
  std::shared_ptr<std::atomic<bool>> lastAnswered_;  // of the last question asked
};

}  // namespace vistaro
