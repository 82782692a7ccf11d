#include "reach/direct_identity.h"

#include <fcntl.h>
#include <gnutls/crypto.h>
#include <gnutls/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

namespace vistaro {
namespace {

// A key or certificate file is a few hundred bytes: anything far larger is not one.
constexpr std::uintmax_t kLargestFile = 64 * 1024;
constexpr std::time_t kValidity = 20LL * 365 * 24 * 3600;

std::string problemOf(const std::string& what, int code) { return what + ": " + gnutls_strerror(code); }

struct Datum {
  gnutls_datum_t datum{nullptr, 0};
  ~Datum() { gnutls_free(datum.data); }
  std::string text() const { return std::string(reinterpret_cast<const char*>(datum.data), datum.size); }
};

struct Pem {
  std::string key;
  std::string certificate;
};

std::optional<Pem> generate(std::string& problem) {
  gnutls_x509_privkey_t key = nullptr;
  gnutls_x509_crt_t certificate = nullptr;
  std::optional<Pem> pem;
  std::array<unsigned char, 16> serial{};
  const std::time_t now = std::time(nullptr);
  Datum keyPem;
  Datum certificatePem;
  int result = gnutls_x509_privkey_init(&key);
  if (result == 0) {
    result = gnutls_x509_privkey_generate(key, GNUTLS_PK_ECDSA, GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0);
  }
  if (result == 0) result = gnutls_x509_crt_init(&certificate);
  if (result == 0) result = gnutls_x509_crt_set_version(certificate, 3);
  if (result == 0) result = gnutls_rnd(GNUTLS_RND_NONCE, serial.data(), serial.size());
  serial[0] &= 0x7f;  // a positive number
  if (result == 0) result = gnutls_x509_crt_set_serial(certificate, serial.data(), serial.size());
  if (result == 0) result = gnutls_x509_crt_set_activation_time(certificate, now - 24 * 3600);
  if (result == 0) result = gnutls_x509_crt_set_expiration_time(certificate, now + kValidity);
  if (result == 0) result = gnutls_x509_crt_set_dn(certificate, "CN=Vistaro Host", nullptr);
  if (result == 0) result = gnutls_x509_crt_set_key(certificate, key);
  if (result == 0) result = gnutls_x509_crt_set_key_usage(certificate, GNUTLS_KEY_DIGITAL_SIGNATURE);
  if (result == 0) result = gnutls_x509_crt_sign2(certificate, certificate, key, GNUTLS_DIG_SHA256, 0);
  if (result == 0) result = gnutls_x509_privkey_export2(key, GNUTLS_X509_FMT_PEM, &keyPem.datum);
  if (result == 0) result = gnutls_x509_crt_export2(certificate, GNUTLS_X509_FMT_PEM, &certificatePem.datum);
  if (result == 0) {
    pem = Pem{keyPem.text(), certificatePem.text()};
  } else {
    problem = problemOf("cannot make a key", result);
  }
  if (certificate) gnutls_x509_crt_deinit(certificate);
  if (key) gnutls_x509_privkey_deinit(key);
  return pem;
}

// Readable by the user alone from the first byte on, and whole or not at all.
bool writePrivately(const std::filesystem::path& file, const std::string& contents, std::string& problem) {
  const std::filesystem::path temporary = file.string() + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool written = fd >= 0 && ::fchmod(fd, 0600) == 0;
  for (size_t at = 0; written && at < contents.size();) {
    const ssize_t result = ::write(fd, contents.data() + at, contents.size() - at);
    written = result > 0;
    if (written) at += static_cast<size_t>(result);
  }
  written = written && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  written = written && ::rename(temporary.c_str(), file.c_str()) == 0;
  if (!written) problem = "cannot write " + file.string() + ": " + std::strerror(errno);
  return written;
}

std::optional<std::string> readSmallFile(const std::filesystem::path& file, std::string& problem) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error || size > kLargestFile) {
    problem = "cannot read " + file.string();
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  if (!in) {
    problem = "cannot read " + file.string();
    return std::nullopt;
  }
  return contents.str();
}

gnutls_datum_t datumOf(const std::string& text) {
  return {reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())), static_cast<unsigned>(text.size())};
}

}  // namespace

std::shared_ptr<const DirectIdentity> DirectIdentity::load(const std::filesystem::path& directory,
                                                           const std::optional<std::filesystem::path>& pkcs12,
                                                           std::string& problem) {
  gnutls_certificate_credentials_t credentials = nullptr;
  int result = gnutls_certificate_allocate_credentials(&credentials);
  if (result != 0) {
    problem = problemOf("no credentials", result);
    return nullptr;
  }
  std::shared_ptr<const DirectIdentity> identity(new DirectIdentity(credentials));
  if (pkcs12) {
    result = gnutls_certificate_set_x509_simple_pkcs12_file(credentials, pkcs12->c_str(), GNUTLS_X509_FMT_DER,
                                                           kPkcs12Passphrase);
    if (result < 0) {
      problem = problemOf("cannot load " + pkcs12->string(), result);
      return nullptr;
    }
    return identity;
  }

  const std::filesystem::path keyFile = directory / kKeyFile;
  const std::filesystem::path certificateFile = directory / kCertificateFile;
  std::error_code error;
  if (!std::filesystem::exists(keyFile, error) || !std::filesystem::exists(certificateFile, error)) {
    std::filesystem::create_directories(directory, error);
    std::optional<Pem> made = generate(problem);
    if (!made || !writePrivately(keyFile, made->key, problem) ||
        !writePrivately(certificateFile, made->certificate, problem)) {
      return nullptr;
    }
  }
  const std::optional<std::string> key = readSmallFile(keyFile, problem);
  const std::optional<std::string> certificate = key ? readSmallFile(certificateFile, problem) : std::nullopt;
  if (!certificate) return nullptr;
  const gnutls_datum_t keyDatum = datumOf(*key);
  const gnutls_datum_t certificateDatum = datumOf(*certificate);
  result = gnutls_certificate_set_x509_key_mem(credentials, &certificateDatum, &keyDatum, GNUTLS_X509_FMT_PEM);
  if (result < 0) {
    problem = problemOf("cannot use " + keyFile.string(), result);
    return nullptr;
  }
  return identity;
}

DirectIdentity::~DirectIdentity() { gnutls_certificate_free_credentials(credentials_); }

}  // namespace vistaro
