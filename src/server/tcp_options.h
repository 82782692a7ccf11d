#pragma once

#include <asio/ip/tcp.hpp>
#include <system_error>

namespace vistaro {

// No-delay and keep-alive with the first probe after 10 s idle; other keep-alive values stay the system's.
std::error_code applyTcpOptions(asio::ip::tcp::socket& socket);

}  // namespace vistaro
