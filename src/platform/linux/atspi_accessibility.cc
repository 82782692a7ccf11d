#include "platform/linux/atspi_accessibility.h"

#include <future>

#include "core/log.h"
#include "platform/linux/atspi_desktop.h"

namespace vistaro {
namespace {

// An element of some application's tree; its reference is dropped on the loop, where libatspi lives.
class AtspiElement final : public AccessibleElement {
 public:
  explicit AtspiElement(AccessibleHandle handle) : handle_(std::move(handle)) {}
  AtspiAccessible* get() const { return handle_.get(); }

 private:
  AccessibleHandle handle_;
};

AtspiAccessible* atspi(const ElementRef& element) { return static_cast<const AtspiElement&>(*element).get(); }

ElementRef shared(Executor& loop, AccessibleHandle handle) {
  if (!handle) return nullptr;
  return std::shared_ptr<const AtspiElement>(new AtspiElement(std::move(handle)),
                                             [&loop](const AtspiElement* element) { loop.post([element] { delete element; }); });
}

}  // namespace

AtspiAccessibility::AtspiAccessibility(std::unique_ptr<ApplicationWindows> windows) : windows_(std::move(windows)) {
  loop_.post([this] { desktop_ = std::make_unique<AtspiDesktop>(loop_, *windows_); });
}

// The loop ends (its member goes first) after this task, and before the windows go.
AtspiAccessibility::~AtspiAccessibility() {
  loop_.post([this] { desktop_.reset(); });
}

template <typename Result>
Result AtspiAccessibility::ask(std::function<Result(AtspiDesktop&)> question) {
  // The loop is still stuck in an earlier question: this one would only queue up behind it.
  if (lastAnswered_ && !lastAnswered_->load()) return Result{};
  auto answered = std::make_shared<std::atomic<bool>>(false);
  auto promise = std::make_shared<std::promise<Result>>();
  auto answer = promise->get_future();
  lastAnswered_ = answered;
  loop_.post([this, question = std::move(question), promise, answered] {
    Result result = desktop_ ? question(*desktop_) : Result{};
    answered->store(true);  // before the asker wakes up and asks again
    promise->set_value(std::move(result));
  });
  if (answer.wait_for(kCallPatience) != std::future_status::ready) return Result{};
  return answer.get();
}

ElementRef AtspiAccessibility::focusedApplication() {
  return ask<ElementRef>([this](AtspiDesktop& desktop) -> ElementRef {
    AccessibleHandle focused = desktop.focused();
    return focused ? shared(loop_, desktop.applicationOf(focused.get())) : nullptr;
  });
}

ElementRef AtspiAccessibility::focusedElement() {
  return ask<ElementRef>([this](AtspiDesktop& desktop) { return shared(loop_, desktop.focused()); });
}

std::optional<std::string> AtspiAccessibility::role(const ElementRef& element) {
  return ask<std::optional<std::string>>([element](AtspiDesktop& desktop) { return desktop.role(atspi(element)); });
}

ElementRef AtspiAccessibility::editableAncestor(const ElementRef& element) {
  return ask<ElementRef>(
      [this, element](AtspiDesktop& desktop) { return shared(loop_, desktop.editableAncestor(atspi(element))); });
}

std::optional<Rect> AtspiAccessibility::frame(const ElementRef& element) {
  return ask<std::optional<Rect>>([element](AtspiDesktop& desktop) { return desktop.frame(atspi(element)); });
}

std::optional<int32_t> AtspiAccessibility::processID(const ElementRef& element) {
  return ask<std::optional<int32_t>>([element](AtspiDesktop& desktop) { return desktop.processID(atspi(element)); });
}

std::optional<std::string> AtspiAccessibility::bundleIdentifier(int32_t pid) {
  return ask<std::optional<std::string>>([pid](AtspiDesktop& desktop) { return desktop.windowClass(pid); });
}

void AtspiAccessibility::request(const ElementRef& application, AccessibilityRequest request) {
  // Toolkits follow the session's switch, turned on at start; there is nothing to ask of one
  // program. Chromium-based browsers read it only when they start.
  if (request != AccessibilityRequest::enhancedUserInterface) return;
  const auto pid = processID(application);
  logInfo("focus",
          "browser process {} shows its page's text fields only when it was started after the session's "
          "accessibility was on, or with --force-renderer-accessibility",
          pid ? std::to_string(*pid) : "?");
}

}  // namespace vistaro
