#pragma once

#include <gnutls/gnutls.h>

#include <memory>
#include <system_error>

#include "server/transport_parameters.h"

namespace vistaro {

// One GnuTLS session with its PSK credentials, non-blocking on a socket descriptor.
// SIGPIPE is suppressed on every send (MSG_NOSIGNAL), so a peer vanishing mid-write
// cannot end the process.
class TlsSession {
 public:
  enum class Role { server, client };

  static std::unique_ptr<TlsSession> create(Role role, const TransportParameters& parameters, int fd,
                                            std::error_code& error);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  gnutls_session_t get() const { return session_; }
  Role role() const { return role_; }
  // The client got as far as naming its key: a handshake that fails now tested a PIN.
  bool keyRequested() const { return keyRequested_; }

 private:
  TlsSession(Role role, TransportParameters parameters) : role_(role), parameters_(std::move(parameters)) {}
  static int serverKey(gnutls_session_t session, const char* identity, gnutls_datum_t* key);

  Role role_;
  TransportParameters parameters_;
  bool keyRequested_ = false;
  gnutls_session_t session_ = nullptr;
  gnutls_psk_server_credentials_t serverCredentials_ = nullptr;
  gnutls_psk_client_credentials_t clientCredentials_ = nullptr;
};

}  // namespace vistaro
