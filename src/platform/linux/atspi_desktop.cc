#include "platform/linux/atspi_desktop.h"

#include <cmath>
#include <deque>
#include <cstdlib>
#include <cstring>

#include "core/log.h"
#include "platform/linux/accessibility_switch.h"

namespace vistaro {
namespace {

constexpr int kMaxDepth = 64;          // ancestors looked at: trees are far flatter; cycles are not
constexpr int kMaxApplications = 256;  // asked for their active window
constexpr int kMaxWindows = 64;        // per application
constexpr int kMaxWalk = 512;          // elements of a window looked at for the focus
constexpr Duration kSlowAnswer = std::chrono::milliseconds(AtspiDesktop::kCallTimeoutMs * 8 / 10);

// The host's names for AT-SPI's text-taking roles; AT-SPI 2.46 has no role of its own for search
// fields (toolkits report them as entries).
std::string hostRole(AtspiRole role, bool editable) {
  switch (role) {
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
    case ATSPI_ROLE_SPIN_BUTTON:
    case ATSPI_ROLE_EDITBAR:
      return "AXTextField";
    case ATSPI_ROLE_TEXT:  // GTK's entries and text views alike
    case ATSPI_ROLE_TERMINAL:
      return "AXTextArea";
    case ATSPI_ROLE_COMBO_BOX:
      return editable ? "AXComboBox" : "AXPopUpButton";
    default: {
      std::unique_ptr<gchar, decltype(&g_free)> name(atspi_role_get_name(role), g_free);
      return name ? name.get() : "unknown";
    }
  }
}

std::string owned(gchar* text) {
  std::string result = text ? text : "";
  g_free(text);
  return result;
}

const char* busNameOf(AtspiAccessible* element) {
  AtspiApplication* app = element->parent.app;
  return app && app->bus_name ? app->bus_name : "";
}

bool initialised() {
  // libatspi connects once per process; after a failed start every further call would abort.
  static const bool ok = atspi_init() == 0;
  return ok;
}

}  // namespace

AtspiDesktop::AtspiDesktop(Executor& loop, ApplicationWindows& windows) : loop_(loop), windows_(windows) {
  connect();
}

AtspiDesktop::~AtspiDesktop() {
  if (ready_) atspi_event_listener_deregister_from_callback(onFocusEvent, this, "object:state-changed:focused", nullptr);
}

void AtspiDesktop::connect() {
  if (auto problem = turnOnSessionAccessibility()) {
    if (!std::exchange(problemReported_, true)) {
      logWarning("focus", "no focus answers while the session's accessibility cannot be reached: {}", *problem);
    }
    loop_.postAfter(kReconnectInterval, guard_.wrap([this] { connect(); }));
    return;
  }
  if (!initialised()) {
    logWarning("focus", "no focus answers: libatspi could not connect to the accessibility bus");
    return;
  }
  atspi_set_timeout(kCallTimeoutMs, -1);  // -1: no longer patience for programs still starting
  atspi_set_main_context(static_cast<GMainContext*>(g_main_context_get_thread_default()));
  GError* error = nullptr;
  if (!atspi_event_listener_register_from_callback(onFocusEvent, this, nullptr, "object:state-changed:focused",
                                                   &error)) {
    logWarning("focus", "cannot follow the focus: {}", error ? error->message : "unknown error");
    g_clear_error(&error);
    return;
  }
  ready_ = true;
  if (problemReported_) logInfo("focus", "the session's accessibility is reachable: focus answers are on");
}

void AtspiDesktop::onFocusEvent(AtspiEvent* event, void* self) {
  static_cast<AtspiDesktop*>(self)->focusChanged(event);
  g_boxed_free(atspi_event_get_type(), event);  // the listener gets a copy of its own
}

void AtspiDesktop::focusChanged(AtspiEvent* event) {
  AtspiAccessible* source = event->source;
  if (!source) return;
  leftAlone_.erase(busNameOf(source));  // it speaks: it answers again
  // GTK 3 reports every change twice; the same element again changes nothing.
  if (event->detail1 == 1 && focused_.get() != source) {
    focused_.reset(static_cast<AtspiAccessible*>(g_object_ref(source)));
  } else if (event->detail1 == 0 && focused_.get() == source) {
    focused_.reset();
  }
}

template <typename T, typename Call>
std::optional<T> AtspiDesktop::ask(AtspiAccessible* element, Call call) {
  const std::string app = busNameOf(element);
  if (auto found = leftAlone_.find(app); found != leftAlone_.end()) {
    if (Clock::now() - found->second < kLeftAlone) return std::nullopt;
    leftAlone_.erase(found);
  }
  GError* error = nullptr;
  const TimePoint start = Clock::now();
  T value = call(&error);
  if (Clock::now() - start >= kSlowAnswer) leftAlone_[app] = Clock::now();
  if (!error) return value;
  g_error_free(error);
  return std::nullopt;
}

AccessibleHandle AtspiDesktop::focused() {
  if (!ready_) return {};
  if (focused_) return AccessibleHandle(static_cast<AtspiAccessible*>(g_object_ref(focused_.get())));
  return activeWindowFocus();
}

AccessibleHandle AtspiDesktop::activeWindowFocus() {
  AccessibleHandle desktop(atspi_get_desktop(0));
  if (!desktop) return {};
  const int applications = ask<gint>(desktop.get(), [&](GError** e) {
    return atspi_accessible_get_child_count(desktop.get(), e);
  }).value_or(0);
  for (int a = 0; a < std::min(applications, kMaxApplications); ++a) {
    AccessibleHandle app(atspi_accessible_get_child_at_index(desktop.get(), a, nullptr));
    if (!app) continue;
    const int windows = ask<gint>(app.get(), [&](GError** e) { return atspi_accessible_get_child_count(app.get(), e); })
                            .value_or(0);
    for (int w = 0; w < std::min(windows, kMaxWindows); ++w) {
      auto window = ask<AtspiAccessible*>(app.get(), [&](GError** e) {
        return atspi_accessible_get_child_at_index(app.get(), w, e);
      });
      AccessibleHandle held(window.value_or(nullptr));
      if (!held || !has(held.get(), ATSPI_STATE_ACTIVE)) continue;
      if (AccessibleHandle found = focusedWithin(held.get())) return found;
    }
  }
  return {};
}

AccessibleHandle AtspiDesktop::focusedWithin(AtspiAccessible* window) {
  std::unique_ptr<AtspiCollection, GObjectUnref> collection(atspi_accessible_get_collection_iface(window));
  if (!collection) return walkToFocused(window);
  std::unique_ptr<AtspiStateSet, GObjectUnref> states(atspi_state_set_new(nullptr));
  atspi_state_set_add(states.get(), ATSPI_STATE_FOCUSED);
  std::unique_ptr<AtspiMatchRule, GObjectUnref> rule(
      atspi_match_rule_new(states.get(), ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_NONE, nullptr,
                           ATSPI_Collection_MATCH_NONE, nullptr, ATSPI_Collection_MATCH_NONE, FALSE));
  auto matches = ask<GArray*>(window, [&](GError** e) {
    return atspi_collection_get_matches(collection.get(), rule.get(), ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, e);
  });
  if (!matches || !*matches) return {};
  AccessibleHandle found((*matches)->len > 0 ? g_array_index(*matches, AtspiAccessible*, 0) : nullptr);
  for (guint i = 1; i < (*matches)->len; ++i) g_object_unref(g_array_index(*matches, AtspiAccessible*, i));
  g_array_free(*matches, TRUE);
  return found;
}

// For toolkits without the Collection interface (GTK 4): the window's tree, breadth first, up to a budget.
AccessibleHandle AtspiDesktop::walkToFocused(AtspiAccessible* window) {
  std::deque<AccessibleHandle> waiting;
  waiting.emplace_back(static_cast<AtspiAccessible*>(g_object_ref(window)));
  for (int visited = 0; !waiting.empty() && visited < kMaxWalk; ++visited) {
    AccessibleHandle node = std::move(waiting.front());
    waiting.pop_front();
    if (has(node.get(), ATSPI_STATE_FOCUSED)) return node;
    const int children = ask<gint>(node.get(), [&](GError** e) { return atspi_accessible_get_child_count(node.get(), e); })
                             .value_or(0);
    for (int i = 0; i < children && waiting.size() < size_t(kMaxWalk); ++i) {
      auto child = ask<AtspiAccessible*>(node.get(), [&](GError** e) {
        return atspi_accessible_get_child_at_index(node.get(), i, e);
      });
      if (child && *child) waiting.emplace_back(*child);
    }
  }
  return {};
}

AccessibleHandle AtspiDesktop::applicationOf(AtspiAccessible* element) {
  return AccessibleHandle(ask<AtspiAccessible*>(element, [&](GError** e) {
                            return atspi_accessible_get_application(element, e);
                          }).value_or(nullptr));
}

std::optional<AtspiRole> AtspiDesktop::roleOf(AtspiAccessible* element) {
  return ask<AtspiRole>(element, [&](GError** e) { return atspi_accessible_get_role(element, e); });
}

bool AtspiDesktop::has(AtspiAccessible* element, AtspiStateType state) {
  auto states = ask<AtspiStateSet*>(element, [&](GError**) { return atspi_accessible_get_state_set(element); });
  if (!states || !*states) return false;
  const bool result = atspi_state_set_contains(*states, state);
  g_object_unref(*states);
  return result;
}

AccessibleHandle AtspiDesktop::parentOf(AtspiAccessible* element) {
  return AccessibleHandle(
      ask<AtspiAccessible*>(element, [&](GError** e) { return atspi_accessible_get_parent(element, e); })
          .value_or(nullptr));
}

std::optional<std::string> AtspiDesktop::role(AtspiAccessible* element) {
  const auto role = roleOf(element);
  if (!role) return std::nullopt;
  return hostRole(*role, *role == ATSPI_ROLE_COMBO_BOX && has(element, ATSPI_STATE_EDITABLE));
}

AccessibleHandle AtspiDesktop::editableAncestor(AtspiAccessible* element) {
  AccessibleHandle current(static_cast<AtspiAccessible*>(g_object_ref(element)));
  for (int depth = 0; current && depth < kMaxDepth; ++depth) {
    const auto role = roleOf(current.get());
    if (!role || *role == ATSPI_ROLE_APPLICATION) return {};
    if (has(current.get(), ATSPI_STATE_EDITABLE)) return current;
    current = parentOf(current.get());
  }
  return {};
}

std::optional<int32_t> AtspiDesktop::processID(AtspiAccessible* element) {
  const auto pid = ask<guint>(element, [&](GError** e) { return atspi_accessible_get_process_id(element, e); });
  if (!pid || *pid == 0 || *pid > static_cast<guint>(INT32_MAX)) return std::nullopt;
  return static_cast<int32_t>(*pid);
}

std::optional<std::string> AtspiDesktop::windowClass(int32_t pid) {
  for (const ApplicationWindow& window : windows_.windowsOf(pid)) {
    if (!window.windowClass.empty()) return window.windowClass;
  }
  return std::nullopt;
}

std::optional<Rect> AtspiDesktop::extents(AtspiAccessible* element) {
  std::unique_ptr<AtspiComponent, GObjectUnref> component(atspi_accessible_get_component_iface(element));
  if (!component) return std::nullopt;
  auto rect = ask<AtspiRect*>(element, [&](GError** e) {
    return atspi_component_get_extents(component.get(), ATSPI_COORD_TYPE_SCREEN, e);
  });
  if (!rect || !*rect) return std::nullopt;
  const Rect result{double((*rect)->x), double((*rect)->y), double((*rect)->width), double((*rect)->height)};
  g_free(*rect);
  return result;
}

// GTK reports its own pixels, which are global pixels divided by its scale (GDK_SCALE or the
// desktop's window scaling); GTK 4 moreover reports them from its window's corner, having no
// global coordinates of its own. Its scale is read off its window: the window system's size of
// it over GTK's. Other toolkits are taken at their word.
std::optional<Rect> AtspiDesktop::frame(AtspiAccessible* element) {
  auto frame = extents(element);
  if (!frame) return std::nullopt;
  // The application's own object answers for its toolkit; libatspi keeps the answer.
  AccessibleHandle app = applicationOf(element);
  if (!app) return frame;
  const std::string toolkit = owned(ask<gchar*>(app.get(), [&](GError** e) {
                                      return atspi_accessible_get_toolkit_name(app.get(), e);
                                    }).value_or(nullptr));
  if (g_ascii_strcasecmp(toolkit.c_str(), "gtk") != 0) return frame;
  const std::string version = owned(ask<gchar*>(app.get(), [&](GError** e) {
                                      return atspi_accessible_get_toolkit_version(app.get(), e);
                                    }).value_or(nullptr));
  const bool windowRelative = std::atoi(version.c_str()) >= 4;
  AccessibleHandle toplevel(static_cast<AtspiAccessible*>(g_object_ref(element)));
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    AccessibleHandle parent = parentOf(toplevel.get());
    if (!parent || roleOf(parent.get()).value_or(ATSPI_ROLE_APPLICATION) == ATSPI_ROLE_APPLICATION) break;
    toplevel = std::move(parent);
  }
  const auto toplevelFrame = extents(toplevel.get());
  const auto window = toplevelFrame ? windowOf(toplevel.get()) : std::nullopt;
  if (!window) return windowRelative ? std::nullopt : frame;
  const double scale =
      toplevelFrame->width > 0 ? std::max(1.0, std::round(window->content.width / toplevelFrame->width)) : 1.0;
  Rect global{frame->x * scale, frame->y * scale, frame->width * scale, frame->height * scale};
  if (windowRelative) global = {global.x + window->content.x, global.y + window->content.y, global.width, global.height};
  return global;
}

std::optional<ApplicationWindow> AtspiDesktop::windowOf(AtspiAccessible* toplevel) {
  const auto pid = processID(toplevel);
  if (!pid) return std::nullopt;
  const auto windows = windows_.windowsOf(*pid);
  if (windows.size() == 1) return windows.front();
  const std::string title =
      owned(ask<gchar*>(toplevel, [&](GError** e) { return atspi_accessible_get_name(toplevel, e); }).value_or(nullptr));
  for (const ApplicationWindow& window : windows) {
    if (window.title == title) return window;
  }
  return std::nullopt;
}

}  // namespace vistaro
