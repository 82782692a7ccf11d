#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vistaro {

// TLS 1.2 and nothing else, with the one suite 0xCCAC (ECDHE-PSK-CHACHA20-POLY1305).
// GnuTLS refuses the string without +SIGN-ALL and fails every handshake without a group.
inline constexpr char kTlsPriority[] =
    "NONE:+VERS-TLS1.2:+ECDHE-PSK:+CHACHA20-POLY1305:+AEAD:+SIGN-ALL:+GROUP-X25519:+GROUP-SECP256R1";
inline constexpr char kPskIdentity[] = "kestrune";
inline constexpr char kPskLabel[] = "Kestrune-PSK-v1";

using PreSharedKey = std::array<uint8_t, 32>;

// HMAC-SHA256 keyed with the PIN over the fixed label (not the other way round).
PreSharedKey derivePreSharedKey(std::string_view pin);

// What a listener applies to every connection it accepts; a PIN change needs new parameters.
struct TransportParameters {
  std::string identity = kPskIdentity;
  PreSharedKey key{};
};

TransportParameters makeTransportParameters(std::string_view pin);

}  // namespace vistaro
