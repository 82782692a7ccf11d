#include "reach/relay_agent.h"

namespace vistaro {

void RelayAgent::setLocalPort(uint16_t port) {
  queue_.post(guard_.wrap([this, port] { localPort_ = port; }));
}

}  // namespace vistaro
