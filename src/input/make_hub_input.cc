#include "input/make_hub_input.h"

namespace vistaro {

HubInput makeHubInput(PointerInjector& pointer, KeyInjector& keys) {
  HubInput input;
  input.injectPointerInput = [&pointer](const InputMessage& message) { return pointer.injectPointerInput(message); };
  input.displayPoint = [&pointer](const InputMessage& message) { return pointer.displayPoint(message); };
  input.isInputTrusted = [&pointer] { return pointer.isTrusted(); };
  input.enqueueKey = [&keys](const KeyMessage& message) { keys.enqueue(message); };
  return input;
}

}  // namespace vistaro
