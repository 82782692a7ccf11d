#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace vistaro::fuzzing {

// Reads values off the fuzzer's bytes; past the end every value is zero.
struct FuzzInput {
  const uint8_t* data;
  size_t size;

  template <typename T>
  T take() {
    T value{};
    const size_t n = std::min(sizeof(T), size);
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
  }
};

}  // namespace vistaro::fuzzing
