#include "input/injected_desktop_input.h"

namespace vistaro {

void InjectedDesktopInput::keys(ClientID client, KeyMessage message, std::function<void()> refused) {
  main_.post([&keys = keys_, client, message = std::move(message), refused = std::move(refused)]() mutable {
    if (!keys.enqueue(client, std::move(message)) && refused) refused();
  });
}

void InjectedDesktopInput::dropKeys(ClientID client) {
  main_.post([&keys = keys_, client] { keys.dropClient(client); });
}

}  // namespace vistaro
