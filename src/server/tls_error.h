#pragma once

#include <system_error>

namespace vistaro {

// GnuTLS error codes (negative ints) as std::error_code.
const std::error_category& tlsCategory();
inline std::error_code makeTlsError(int gnutlsError) { return {gnutlsError, tlsCategory()}; }

}  // namespace vistaro
