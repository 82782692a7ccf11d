#include "reach/quic/quic_error.h"

#include <ngtcp2/ngtcp2.h>

#include <string>

namespace vistaro::quic {
namespace {

class QuicCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "quic"; }
  std::string message(int code) const override { return ngtcp2_strerror(code); }
};

class QuicClosedCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "quic-closed"; }
  std::string message(int code) const override {
    return static_cast<QuicClosed>(code) == QuicClosed::idle ? "the QUIC peer went quiet" : "the QUIC peer closed";
  }
};

}  // namespace

const std::error_category& quicCategory() {
  static const QuicCategory category;
  return category;
}

const std::error_category& quicClosedCategory() {
  static const QuicClosedCategory category;
  return category;
}

}  // namespace vistaro::quic
