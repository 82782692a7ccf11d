#pragma once

#include <asio/ip/address.hpp>

#include "wire/byte_stream.h"

namespace vistaro {

// An IPv4-mapped IPv6 address (how a dual-stack socket sees IPv4 peers) counts as IPv4.
PeerAddress peerAddressOf(const asio::ip::address& address);

}  // namespace vistaro
