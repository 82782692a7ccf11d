#pragma once

#include <atspi/atspi.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/executor.h"
#include "core/geometry.h"
#include "core/lifetime_guard.h"
#include "platform/linux/application_windows.h"

namespace vistaro {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using AccessibleHandle = std::unique_ptr<AtspiAccessible, GObjectUnref>;

// The desktop's accessibility through libatspi, made and used on the thread of the GLib loop
// that `loop` runs, which owns every libatspi call of the process. It turns the session's
// accessibility on, follows the focus through focus events and, when it has seen none, asks
// the active window. An application that keeps a call waiting for (nearly) the whole
// time-out is left alone for a while, so a stopped program costs one time-out, not one per call.
class AtspiDesktop {
 public:
  static constexpr int kCallTimeoutMs = 300;
  static constexpr Duration kLeftAlone = std::chrono::seconds(5);
  static constexpr Duration kReconnectInterval = std::chrono::seconds(10);

  AtspiDesktop(Executor& loop, ApplicationWindows& windows);
  ~AtspiDesktop();
  AtspiDesktop(const AtspiDesktop&) = delete;
  AtspiDesktop& operator=(const AtspiDesktop&) = delete;

  AccessibleHandle focused();
  AccessibleHandle applicationOf(AtspiAccessible* element);
  // In the host's role names where the element is editable by its role (see the note on roles).
  std::optional<std::string> role(AtspiAccessible* element);
  AccessibleHandle editableAncestor(AtspiAccessible* element);
  // Global pixels, whatever the toolkit's own units.
  std::optional<Rect> frame(AtspiAccessible* element);
  std::optional<int32_t> processID(AtspiAccessible* element);
  std::optional<std::string> windowClass(int32_t pid);

 private:
  void connect();
  static void onFocusEvent(AtspiEvent* event, void* self);
  void focusChanged(AtspiEvent* event);
  AccessibleHandle activeWindowFocus();
  AccessibleHandle focusedWithin(AtspiAccessible* window);
  AccessibleHandle walkToFocused(AtspiAccessible* window);
  std::optional<AtspiRole> roleOf(AtspiAccessible* element);
  bool has(AtspiAccessible* element, AtspiStateType state);
  AccessibleHandle parentOf(AtspiAccessible* element);
  std::optional<Rect> extents(AtspiAccessible* element);
  std::optional<ApplicationWindow> windowOf(AtspiAccessible* toplevel);

  // Runs one call into the element's application (the call gets the GError** to fill) unless
  // that application is being left alone; absent when skipped or failed.
  template <typename T, typename Call>
  std::optional<T> ask(AtspiAccessible* element, Call call);

  Executor& loop_;
  ApplicationWindows& windows_;
  bool ready_ = false;
  bool problemReported_ = false;
  AccessibleHandle focused_;
  std::map<std::string, TimePoint> leftAlone_;  // by the application's bus name: since when
  LifetimeGuard guard_;
};

}  // namespace vistaro
