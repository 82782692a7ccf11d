#include "input/focus_tracker.h"

#include <utility>

namespace vistaro {
namespace {

bool contains(const Rect& rect, Point point) {
  return point.x >= rect.minX() && point.x < rect.maxX() && point.y >= rect.minY() && point.y < rect.maxY();
}

}  // namespace

const std::set<std::string> FocusTracker::editableRoles{"AXTextField", "AXTextArea", "AXComboBox", "AXSearchField"};

const std::set<std::string> FocusTracker::enhancedUIBundleIDs{"Google-chrome", "Google-chrome-unstable", "Chromium",
                                                              "Brave-browser", "Microsoft-edge", "Vivaldi-stable"};

void FocusTracker::checkFocusAfterClick(Point point, std::function<void(bool)> answer) {
  queue_.postAfter(kFirstCheckDelay, guard_.wrap([this, point, answer = std::move(answer)]() mutable {
    if (isEditableElement(point)) return answer(true);
    // Applications that move the focus late get a second look.
    queue_.postAfter(kRetryDelay, guard_.wrap([this, point, answer = std::move(answer)] {
      answer(isEditableElement(point));
    }));
  }));
}

bool FocusTracker::isEditableElement(Point point) {
  if (ElementRef application = accessibility_.focusedApplication()) exposeAccessibility(application);
  const ElementRef focused = accessibility_.focusedElement();
  if (!focused) return false;
  const auto role = accessibility_.role(focused);
  const ElementRef candidate =
      role && editableRoles.contains(*role) ? focused : accessibility_.editableAncestor(focused);
  if (!candidate) return false;
  auto frame = frameOf(candidate);
  if (!frame && candidate != focused) frame = frameOf(focused);
  if (!frame) return true;  // editable, wherever it is
  return contains(frame->insetBy(-kFrameMargin, -kFrameMargin), point);
}

void FocusTracker::exposeAccessibility(const ElementRef& application) {
  const auto pid = accessibility_.processID(application);
  if (!pid || !accessibilityEnabledPIDs_.insert(*pid).second) return;
  accessibility_.request(application, AccessibilityRequest::manualAccessibility);
  const auto bundle = accessibility_.bundleIdentifier(*pid);
  if (bundle && enhancedUIBundleIDs.contains(*bundle)) {
    accessibility_.request(application, AccessibilityRequest::enhancedUserInterface);
  }
}

std::optional<Rect> FocusTracker::frameOf(const ElementRef& element) {
  auto frame = accessibility_.frame(element);
  if (!frame || frame->isEmpty()) return std::nullopt;
  return frame;
}

}  // namespace vistaro
