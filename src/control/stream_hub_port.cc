#include "control/stream_hub_port.h"

namespace vistaro {

void StreamHubPort::setCallbacks(Callbacks callbacks) {
  hub_->onClientsChanged = std::move(callbacks.clientsChanged);
  hub_->onSelectDisplay = std::move(callbacks.selectDisplay);
  hub_->onInputPermissionMissing = std::move(callbacks.inputPermissionMissing);
  hub_->onListenerState = std::move(callbacks.listenerState);
  hub_->onAuthFailures = [authFailures = std::move(callbacks.authFailures)](const StreamHub::AuthFailures& failures) {
    if (authFailures) authFailures(failures.count, failures.lastAddress);
  };
}

}  // namespace vistaro
