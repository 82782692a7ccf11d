#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/geometry.h"

namespace vistaro {

// One element of an application's accessibility tree; what it holds is the platform's.
class AccessibleElement {
 public:
  virtual ~AccessibleElement() = default;
};
// Null: no such element. Elements are dropped before the service that made them.
using ElementRef = std::shared_ptr<const AccessibleElement>;

// What the host may ask of an application so that its tree shows more.
enum class AccessibilityRequest {
  manualAccessibility,    // expose its tree at all
  enhancedUserInterface,  // a browser: expose its web content too
};

// The desktop's accessibility as the focus check reads it. Every call blocks for at most the
// platform's time-out; a call that fails or times out answers "absent". Used from one queue.
class Accessibility {
 public:
  virtual ~Accessibility() = default;

  virtual ElementRef focusedApplication() = 0;
  virtual ElementRef focusedElement() = 0;
  // In the names of the host's editable roles ("AXTextField", "AXTextArea", "AXComboBox",
  // "AXSearchField") where the element is one of them.
  virtual std::optional<std::string> role(const ElementRef& element) = 0;
  // The element itself or its nearest ancestor that takes text.
  virtual ElementRef editableAncestor(const ElementRef& element) = 0;
  // On screen, in the units of the click's display point; as the application reports it (it
  // may be empty).
  virtual std::optional<Rect> frame(const ElementRef& element) = 0;
  virtual std::optional<int32_t> processID(const ElementRef& element) = 0;
  // How the desktop names the program that runs as this process.
  virtual std::optional<std::string> bundleIdentifier(int32_t pid) = 0;
  // Whether the application can do anything about it is its own affair: nothing is reported.
  virtual void request(const ElementRef& application, AccessibilityRequest request) = 0;
};

}  // namespace vistaro
