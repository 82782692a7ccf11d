#include "reach/random_hex_id.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

#include <array>
#include <cstdint>
#include <stdexcept>

#include <fmt/format.h>

namespace vistaro {

std::string randomHexID() {
  std::array<uint8_t, 16> bytes{};
  if (gnutls_rnd(GNUTLS_RND_RANDOM, bytes.data(), bytes.size()) != 0) {
    throw std::runtime_error("no random numbers for an ID");
  }
  std::string id;
  for (uint8_t byte : bytes) id += fmt::format("{:02x}", byte);
  return id;
}

bool isHexID(std::string_view text) {
  return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace vistaro
