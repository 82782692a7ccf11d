#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "core/executor.h"
#include "core/geometry.h"
#include "core/lifetime_guard.h"
#include "input/accessibility.h"

namespace vistaro {

// Whether a click put the keyboard focus into something that takes text: one look shortly
// after the click and, when that finds nothing, one more later. Everything runs on the focus
// queue, so the accessibility calls, which block, never hold up anyone else.
class FocusTracker {
 public:
  static constexpr std::chrono::milliseconds kFirstCheckDelay{200};
  static constexpr std::chrono::milliseconds kRetryDelay{400};
  // How far from the editable element a click may land (focus stayed in a field elsewhere
  // when it lands further), in the units of the click's display point.
  static constexpr double kFrameMargin = 12;

  static const std::set<std::string> editableRoles;
  // The browsers also asked for their web content (WM_CLASS classes on X11).
  static const std::set<std::string> enhancedUIBundleIDs;

  FocusTracker(Executor& queue, Accessibility& accessibility) : queue_(queue), accessibility_(accessibility) {}

  // From any thread. `answer` is called once, on the focus queue, unless the tracker goes first.
  void checkFocusAfterClick(Point point, std::function<void(bool editable)> answer);
  // One look, on the focus queue.
  bool isEditableElement(Point point);

 private:
  void exposeAccessibility(const ElementRef& application);
  std::optional<Rect> frameOf(const ElementRef& element);

  Executor& queue_;
  Accessibility& accessibility_;
  std::set<int32_t> accessibilityEnabledPIDs_;  // asked once for the life of the host
  LifetimeGuard guard_;
};

}  // namespace vistaro
