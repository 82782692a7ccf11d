#include "platform/linux/secure_random.h"

#include <random>

namespace vistaro {

uint32_t secureRandomBelow(uint32_t bound) {
  std::random_device source;  // getrandom(2) on Linux
  return std::uniform_int_distribution<uint32_t>(0, bound - 1)(source);
}

}  // namespace vistaro
