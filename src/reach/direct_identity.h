#pragma once

#include <gnutls/gnutls.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace vistaro {

// The certificate the direct path's QUIC listener shows. Nothing rests on it being trusted
// (clients prove themselves, and learn they reached the host, through the PIN inside), but
// each installation has a key of its own: created at first start and kept, readable by the
// user alone, beside the settings. A PKCS #12 file named in the settings takes its place.
class DirectIdentity {
 public:
  static constexpr char kKeyFile[] = "direct-key.pem";
  static constexpr char kCertificateFile[] = "direct-cert.pem";
  // What a PKCS #12 file is opened with.
  static constexpr char kPkcs12Passphrase[] = "kestrunequic";

  // From `pkcs12` when given, else from the key and certificate in `directory`, made there
  // first when absent. Absent, with what went wrong, when none can be had.
  static std::shared_ptr<const DirectIdentity> load(const std::filesystem::path& directory,
                                                    const std::optional<std::filesystem::path>& pkcs12,
                                                    std::string& problem);
  ~DirectIdentity();
  DirectIdentity(const DirectIdentity&) = delete;
  DirectIdentity& operator=(const DirectIdentity&) = delete;

  gnutls_certificate_credentials_t credentials() const { return credentials_; }

 private:
  explicit DirectIdentity(gnutls_certificate_credentials_t credentials) : credentials_(credentials) {}
  gnutls_certificate_credentials_t credentials_;
};

}  // namespace vistaro
