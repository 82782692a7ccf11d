#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vistaro {

using StunTransactionID = std::array<uint8_t, 12>;
using StunRequest = std::array<uint8_t, 20>;

// A Binding Request without attributes.
StunRequest makeBindingRequest(const StunTransactionID& transaction);

// Whether the datagram may be a STUN message at all (first bits 00, the magic cookie).
bool looksLikeStun(const uint8_t* data, size_t size);
// The transaction the message belongs to, if it is a STUN message.
std::optional<StunTransactionID> stunTransaction(const uint8_t* data, size_t size);

// The mapped address of a Binding Success Response, as "203.0.113.7:61000" or "[2001:db8::1]:61000".
// XOR-MAPPED-ADDRESS wins over MAPPED-ADDRESS; absent when the message is no Binding Success or
// carries neither.
std::optional<std::string> parseBindingResponse(const uint8_t* data, size_t size);

}  // namespace vistaro
