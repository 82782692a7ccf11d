#include "server/transport_parameters.h"

#include <gnutls/crypto.h>

#include <cstring>
#include <stdexcept>

namespace vistaro {

PreSharedKey derivePreSharedKey(std::string_view pin) {
  PreSharedKey key{};
  if (gnutls_hmac_fast(GNUTLS_MAC_SHA256, pin.data(), pin.size(), kPskLabel, std::strlen(kPskLabel), key.data()) !=
      0) {
    throw std::runtime_error("HMAC-SHA256 is unavailable");
  }
  return key;
}

TransportParameters makeTransportParameters(std::string_view pin) {
  TransportParameters parameters;
  parameters.key = derivePreSharedKey(pin);
  return parameters;
}

}  // namespace vistaro
