#include "server/peer_address.h"

namespace vistaro {

PeerAddress peerAddressOf(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    const std::string v4 = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    return {v4, v4};
  }
  if (address.is_v4()) return {address.to_string(), address.to_string()};
  asio::ip::address_v6::bytes_type prefix = address.to_v6().to_bytes();
  std::fill(prefix.begin() + 8, prefix.end(), 0);
  return {address.to_string(), asio::ip::address_v6(prefix).to_string() + "/64"};
}

}  // namespace vistaro
