#pragma once

#include <gnutls/gnutls.h>
#include <ngtcp2/ngtcp2_crypto.h>

#include <memory>
#include <string>

namespace vistaro::quic {

// The one application protocol of the direct path.
inline constexpr char kAlpn[] = "vistaro/1";
// TLS 1.3 only, as QUIC needs it.
inline constexpr char kQuicTlsPriority[] =
    "NORMAL:-VERS-ALL:+VERS-TLS1.3:-CIPHER-ALL:+AES-128-GCM:+AES-256-GCM:+CHACHA20-POLY1305:+AES-128-CCM";

struct TlsSessionDeleter {
  void operator()(gnutls_session_t session) const { gnutls_deinit(session); }
};
using TlsSessionPtr = std::unique_ptr<std::remove_pointer_t<gnutls_session_t>, TlsSessionDeleter>;

// A server session refuses a client that offers no ALPN or not ours. A client session offers
// `alpn` (nothing when empty) and takes the server's certificate unverified: the client proves
// itself, and learns it reached the host, inside, through the PIN's TLS.
// Absent when GnuTLS cannot set the session up.
TlsSessionPtr makeServerTlsSession(gnutls_certificate_credentials_t credentials, ngtcp2_crypto_conn_ref* conn);
TlsSessionPtr makeClientTlsSession(gnutls_certificate_credentials_t credentials, const std::string& alpn,
                                   ngtcp2_crypto_conn_ref* conn);

}  // namespace vistaro::quic
