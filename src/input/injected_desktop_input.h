#pragma once

#include "core/executor.h"
#include "input/desktop_input.h"
#include "input/key_injector.h"
#include "input/pointer_injector.h"

namespace vistaro {

// The desktop operated through the injectors: pointer events right away on the caller's
// queue, keys handed to the key injector on the main executor. The injector and the
// device must outlive the main executor's tasks.
class InjectedDesktopInput final : public DesktopInput {
 public:
  InjectedDesktopInput(Executor& main, PointerDevice& pointer, KeyInjector& keys)
      : main_(main), pointer_(pointer), keys_(keys) {}

  bool trusted() override { return pointer_.isTrusted(); }
  bool pointer(const InputMessage& message) override { return pointer_.injectPointerInput(message); }
  std::optional<Point> displayPoint(const InputMessage& message) override { return pointer_.displayPoint(message); }
  void keys(ClientID client, KeyMessage message, std::function<void()> refused) override;
  void dropKeys(ClientID client) override;
  // Nothing tracks the focus yet: no answer comes.
  void checkFocusAfterClick(Point, std::function<void(bool)>) override {}

 private:
  Executor& main_;
  PointerInjector pointer_;
  KeyInjector& keys_;
};

}  // namespace vistaro
