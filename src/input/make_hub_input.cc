#include "input/make_hub_input.h"

namespace vistaro {

HubInput makeHubInput(PointerInjector& pointer, KeyInjector& keys) {
  HubInput input;
  input.injectPointerInput = [&pointer](const InputMessage& message) { return pointer.injectPointerInput(message); };
  input.displayPoint = [&pointer](const InputMessage& message) { return pointer.displayPoint(message); };
  input.isInputTrusted = [&pointer] { return pointer.isTrusted(); };
  input.enqueueKey = [&keys](uint64_t client, const KeyMessage& message) { return keys.enqueue(client, message); };
  input.dropKeys = [&keys](uint64_t client) { keys.dropClient(client); };
  return input;
}

}  // namespace vistaro
