#include "reach/quic/quic_tls.h"

#include <ngtcp2/ngtcp2_crypto_gnutls.h>

#include <cstring>

namespace vistaro::quic {
namespace {

gnutls_datum_t datumOf(const char* text) {
  return {reinterpret_cast<unsigned char*>(const_cast<char*>(text)), static_cast<unsigned>(std::strlen(text))};
}

// GNUTLS_ALPN_MANDATORY refuses a client whose list lacks ours, but lets one without the
// extension through: this refuses that one too.
int requireAlpn(gnutls_session_t session, unsigned, unsigned, unsigned, const gnutls_datum_t*) {
  gnutls_datum_t selected;
  return gnutls_alpn_get_selected_protocol(session, &selected) == GNUTLS_E_SUCCESS ? 0
                                                                                  : GNUTLS_E_NO_APPLICATION_PROTOCOL;
}

TlsSessionPtr makeSession(unsigned flags, gnutls_certificate_credentials_t credentials, ngtcp2_crypto_conn_ref* conn) {
  gnutls_session_t raw = nullptr;
  if (gnutls_init(&raw, flags) != GNUTLS_E_SUCCESS) return nullptr;
  TlsSessionPtr session(raw);
  const int configured = (flags & GNUTLS_SERVER) ? ngtcp2_crypto_gnutls_configure_server_session(raw)
                                                 : ngtcp2_crypto_gnutls_configure_client_session(raw);
  if (configured != 0 || gnutls_priority_set_direct(raw, kQuicTlsPriority, nullptr) != GNUTLS_E_SUCCESS ||
      gnutls_credentials_set(raw, GNUTLS_CRD_CERTIFICATE, credentials) != GNUTLS_E_SUCCESS) {
    return nullptr;
  }
  gnutls_session_set_ptr(raw, conn);
  return session;
}

}  // namespace

TlsSessionPtr makeServerTlsSession(gnutls_certificate_credentials_t credentials, ngtcp2_crypto_conn_ref* conn) {
  TlsSessionPtr session = makeSession(GNUTLS_SERVER | GNUTLS_NO_AUTO_SEND_TICKET, credentials, conn);
  if (!session) return nullptr;
  gnutls_datum_t alpn = datumOf(kAlpn);
  if (gnutls_alpn_set_protocols(session.get(), &alpn, 1, GNUTLS_ALPN_MANDATORY) != GNUTLS_E_SUCCESS) return nullptr;
  gnutls_handshake_set_hook_function(session.get(), GNUTLS_HANDSHAKE_CLIENT_HELLO, GNUTLS_HOOK_POST, requireAlpn);
  return session;
}

TlsSessionPtr makeClientTlsSession(gnutls_certificate_credentials_t credentials, const std::string& alpn,
                                   ngtcp2_crypto_conn_ref* conn) {
  TlsSessionPtr session = makeSession(GNUTLS_CLIENT, credentials, conn);
  if (!session || alpn.empty()) return session;
  gnutls_datum_t protocol = datumOf(alpn.c_str());
  if (gnutls_alpn_set_protocols(session.get(), &protocol, 1, 0) != GNUTLS_E_SUCCESS) return nullptr;
  return session;
}

}  // namespace vistaro::quic
