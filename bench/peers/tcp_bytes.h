#pragma once

#include <cstdint>

namespace vistaro::peers {

// Bytes this socket has received so far, as the kernel counted them (payload, no headers).
uint64_t tcpBytesReceived(int socket);

}  // namespace vistaro::peers
