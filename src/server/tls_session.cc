#include "server/tls_session.h"

#include <cstring>

#include "server/tls_error.h"

namespace vistaro {

std::unique_ptr<TlsSession> TlsSession::create(Role role, const TransportParameters& parameters, int fd,
                                               std::error_code& error) {
  std::unique_ptr<TlsSession> tls(new TlsSession(role, parameters));
  const unsigned flags = (role == Role::server ? GNUTLS_SERVER : GNUTLS_CLIENT) | GNUTLS_NONBLOCK | GNUTLS_NO_SIGNAL;
  int result = gnutls_init(&tls->session_, flags);
  if (result == GNUTLS_E_SUCCESS) result = gnutls_priority_set_direct(tls->session_, kTlsPriority, nullptr);
  if (result == GNUTLS_E_SUCCESS && role == Role::server) {
    result = gnutls_psk_allocate_server_credentials(&tls->serverCredentials_);
    if (result == GNUTLS_E_SUCCESS) {
      gnutls_psk_set_server_credentials_function(tls->serverCredentials_, &TlsSession::serverKey);
      result = gnutls_credentials_set(tls->session_, GNUTLS_CRD_PSK, tls->serverCredentials_);
    }
  } else if (result == GNUTLS_E_SUCCESS) {
    result = gnutls_psk_allocate_client_credentials(&tls->clientCredentials_);
    if (result == GNUTLS_E_SUCCESS) {
      const gnutls_datum_t key{tls->parameters_.key.data(), static_cast<unsigned>(tls->parameters_.key.size())};
      result = gnutls_psk_set_client_credentials(tls->clientCredentials_, tls->parameters_.identity.c_str(), &key,
                                                 GNUTLS_PSK_KEY_RAW);
    }
    if (result == GNUTLS_E_SUCCESS) result = gnutls_credentials_set(tls->session_, GNUTLS_CRD_PSK, tls->clientCredentials_);
  }
  if (result != GNUTLS_E_SUCCESS) {
    error = makeTlsError(result);
    return nullptr;
  }
  gnutls_session_set_ptr(tls->session_, tls.get());
  gnutls_transport_set_int(tls->session_, fd);
  return tls;
}

int TlsSession::serverKey(gnutls_session_t session, const char* identity, gnutls_datum_t* key) {
  auto* tls = static_cast<TlsSession*>(gnutls_session_get_ptr(session));
  if (!tls) return -1;
  tls->keyRequested_ = true;
  // One identity only; GnuTLS fails the handshake for any other.
  if (tls->parameters_.identity != identity) return -1;
  const PreSharedKey& psk = tls->parameters_.key;
  key->data = static_cast<unsigned char*>(gnutls_malloc(psk.size()));
  if (!key->data) return -1;
  std::memcpy(key->data, psk.data(), psk.size());
  key->size = static_cast<unsigned>(psk.size());
  return 0;
}

TlsSession::~TlsSession() {
  if (session_) gnutls_deinit(session_);
  if (serverCredentials_) gnutls_psk_free_server_credentials(serverCredentials_);
  if (clientCredentials_) gnutls_psk_free_client_credentials(clientCredentials_);
}

}  // namespace vistaro
