#pragma once

#include "core/executor.h"
#include "input/desktop_input.h"
#include "input/focus_tracker.h"
#include "input/key_injector.h"
#include "input/pointer_injector.h"

namespace vistaro {

// The desktop operated through the injectors: pointer events right away on the caller's
// queue, keys handed to the key injector on the main executor, focus checks to the focus
// tracker (none: no answers come). The injector and the device must outlive the main
// executor's tasks.
class InjectedDesktopInput final : public DesktopInput {
 public:
  InjectedDesktopInput(Executor& main, PointerDevice& pointer, KeyInjector& keys, FocusTracker* focus = nullptr)
      : main_(main), pointer_(pointer), keys_(keys), focus_(focus) {}

  bool trusted() override { return pointer_.isTrusted(); }
  bool pointer(const InputMessage& message) override { return pointer_.injectPointerInput(message); }
  std::optional<Point> displayPoint(const InputMessage& message) override { return pointer_.displayPoint(message); }
  void keys(ClientID client, KeyMessage message, std::function<void()> refused) override;
  void dropKeys(ClientID client) override;
  void checkFocusAfterClick(Point point, std::function<void(bool)> answer) override {
    if (focus_) focus_->checkFocusAfterClick(point, std::move(answer));
  }

 private:
  Executor& main_;
  PointerInjector pointer_;
  KeyInjector& keys_;
  FocusTracker* focus_;
};

}  // namespace vistaro
