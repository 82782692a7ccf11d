#include "server/tcp_options.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

namespace vistaro {

namespace {

constexpr int kKeepAliveIdleSeconds = 10;

}  // namespace

std::error_code applyTcpOptions(asio::ip::tcp::socket& socket) {
  std::error_code error;
  socket.set_option(asio::ip::tcp::no_delay(true), error);
  if (!error) socket.set_option(asio::socket_base::keep_alive(true), error);
  if (!error) {
    socket.set_option(asio::detail::socket_option::integer<IPPROTO_TCP, TCP_KEEPIDLE>(kKeepAliveIdleSeconds), error);
  }
  return error;
}

}  // namespace vistaro
