#include "bench/peers/tcp_bytes.h"

// The kernel's own tcp_info: glibc's copy stops before the byte counters.
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace vistaro::peers {

uint64_t tcpBytesReceived(int socket) {
  tcp_info info{};
  socklen_t length = sizeof info;
  if (getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return 0;
  return info.tcpi_bytes_received;
}

}  // namespace vistaro::peers
