#include "app/stream_hub_port.h"

namespace vistaro {

void StreamHubPort::setCallbacks(Callbacks callbacks) {
  StreamHub::Events events;
  events.clientsChanged = std::move(callbacks.clientsChanged);
  events.selectDisplay = std::move(callbacks.selectDisplay);
  events.inputPermissionMissing = std::move(callbacks.inputPermissionMissing);
  events.listenerState = std::move(callbacks.listenerState);
  events.authFailures = [authFailures = std::move(callbacks.authFailures)](const AuthFailures& failures) {
    if (authFailures) authFailures(failures.count, failures.lastAddress);
  };
  hub_->setEvents(std::move(events));
}

}  // namespace vistaro
