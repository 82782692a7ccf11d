#include "reach/stun_message.h"

#include <arpa/inet.h>

#include <cstring>

namespace vistaro {
namespace {

constexpr uint8_t kCookie[4] = {0x21, 0x12, 0xa4, 0x42};
constexpr uint16_t kBindingRequest = 0x0001;
constexpr uint16_t kBindingSuccess = 0x0101;
constexpr uint16_t kMappedAddress = 0x0001;
constexpr uint16_t kXorMappedAddress = 0x0020;
constexpr size_t kHeaderSize = 20;

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// The value of an address attribute; absent when it is too short for its family.
std::optional<std::string> formatAddress(const uint8_t* value, size_t length, bool xored, const uint8_t* key) {
  const bool v6 = value[1] == 2;
  const size_t size = v6 ? 16 : 4;
  if (length < size + 4) return std::nullopt;
  uint16_t port = read16(value + 2);
  uint8_t address[16];
  for (size_t i = 0; i < size; ++i) address[i] = value[4 + i] ^ (xored ? key[i] : 0);
  if (xored) port ^= 0x2112;
  char text[INET6_ADDRSTRLEN];
  if (!inet_ntop(v6 ? AF_INET6 : AF_INET, address, text, sizeof text)) return std::nullopt;
  return (v6 ? "[" + std::string(text) + "]" : std::string(text)) + ":" + std::to_string(port);
}

}  // namespace

StunRequest makeBindingRequest(const StunTransactionID& transaction) {
  StunRequest request{};
  request[1] = kBindingRequest;
  std::memcpy(request.data() + 4, kCookie, 4);
  std::memcpy(request.data() + 8, transaction.data(), transaction.size());
  return request;
}

bool looksLikeStun(const uint8_t* data, size_t size) {
  return size >= kHeaderSize && (data[0] & 0xc0) == 0 && std::memcmp(data + 4, kCookie, 4) == 0;
}

std::optional<StunTransactionID> stunTransaction(const uint8_t* data, size_t size) {
  if (!looksLikeStun(data, size)) return std::nullopt;
  StunTransactionID transaction;
  std::memcpy(transaction.data(), data + 8, transaction.size());
  return transaction;
}

std::optional<std::string> parseBindingResponse(const uint8_t* data, size_t size) {
  // On a port shared with QUIC only a Binding Success may be taken for our address.
  if (!looksLikeStun(data, size) || read16(data) != kBindingSuccess) return std::nullopt;
  const uint8_t* key = data + 4;
  std::optional<std::string> result;
  size_t offset = kHeaderSize;
  while (size - offset >= 4) {
    const uint16_t type = read16(data + offset);
    const size_t length = read16(data + offset + 2);
    const uint8_t* value = data + offset + 4;
    if (length > size - offset - 4) break;
    if ((type == kMappedAddress || type == kXorMappedAddress) && length >= 8) {
      if (auto address = formatAddress(value, length, type == kXorMappedAddress, key)) {
        result = std::move(address);
        if (type == kXorMappedAddress) break;
      }
    }
    offset += 4 + length + (4 - length % 4) % 4;
    if (offset > size) break;
  }
  return result;
}

}  // namespace vistaro
