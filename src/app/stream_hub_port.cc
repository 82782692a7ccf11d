#include "app/stream_hub_port.h"

namespace vistaro {

void StreamHubPort::setCallbacks(Callbacks callbacks) {
  StreamHub::Events events;
  events.clientsChanged = std::move(callbacks.clientsChanged);
  events.selectDisplay = std::move(callbacks.selectDisplay);
  events.inputPermissionMissing = std::move(callbacks.inputPermissionMissing);
  events.setHeadless = std::move(callbacks.setHeadless);
  events.setFit = std::move(callbacks.setFit);
  events.clientDisplay = std::move(callbacks.clientDisplay);
  events.listenerState = [onListening = onListening_, listenerState = std::move(callbacks.listenerState)](
                             std::string status, std::optional<uint16_t> port) {
    if (port && onListening) onListening(*port);
    if (listenerState) listenerState(std::move(status), port);
  };
  events.authFailures = [authFailures = std::move(callbacks.authFailures)](const AuthFailures& failures) {
    if (authFailures) authFailures(failures.count, failures.lastAddress);
  };
  hub_->setEvents(std::move(events));
}

}  // namespace vistaro
