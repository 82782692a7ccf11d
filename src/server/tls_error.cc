#include "server/tls_error.h"

#include <gnutls/gnutls.h>

namespace vistaro {

namespace {

class TlsCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "tls"; }
  std::string message(int code) const override { return gnutls_strerror(code); }
};

}  // namespace

const std::error_category& tlsCategory() {
  static const TlsCategory category;
  return category;
}

}  // namespace vistaro
