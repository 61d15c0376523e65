#pragma once

// Certificates and keys for tests, made at run time with OpenSSL (through the
// component's forwarders), so that none of them can expire in the tree:
//   - a CA: EC P-256 key and self-signed certificate;
//   - a server certificate signed by the CA for DNS:localhost, IP:127.0.0.1
//     and IP:::1, valid from an hour ago for ten years;
//   - an expired server certificate for the same names (valid two years ago
//     for one year), signed by the CA;
//   - a server certificate signed by the CA for "other.invalid" only, a name
//     that matches no address a test connects to;
//   - a server certificate for the server's names signed by a second CA that
//     nobody trusts, and that second CA;
//   - a self-signed server certificate for the server's names;
//   - a client certificate signed by the CA;
//   - PKCS#12 containers (DER) of the client key and certificate with the CA
//     as extra certificate: password "secret", the empty password, and no
//     password at all (NULL, which PKCS#12 tells apart from the empty one);
//     and, with password "secret", one with the certificate but no key and
//     one with the key but no certificate.
// Every certificate is signed with SHA-256; every key is written as an
// unencrypted PKCS#8 PEM ("BEGIN PRIVATE KEY"). Generating keys is slow, so
// the whole set is made once per process: use Get().

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TestCertificates {
 public:
  // The set of the process, made on the first call (thread-safe). Throws
  // std::runtime_error when OpenSSL fails.
  static const TestCertificates& Get();

  // The password of the protected containers, without a terminating zero.
  static constexpr std::string_view kPkcs12Password = "secret";

  // The DER bytes of the first certificate of a PEM text; throws
  // std::runtime_error when the text holds none.
  static std::vector<std::uint8_t> PemToDer(std::string_view certificatePem);

  TestCertificates(const TestCertificates&) = delete;
  TestCertificates& operator=(const TestCertificates&) = delete;

  // The trusted CA.
  std::string caPem;
  std::string caKeyPem;

  // Signed by the CA for DNS:localhost, IP:127.0.0.1 and IP:::1.
  std::string serverCertPem;
  std::string serverKeyPem;

  // As the server certificate, but its validity ended a year ago.
  std::string expiredCertPem;
  std::string expiredKeyPem;

  // Signed by the CA for DNS:other.invalid only (no IP addresses).
  std::string wrongNameCertPem;
  std::string wrongNameKeyPem;

  // Signed by the CA; for TLS client authentication.
  std::string clientCertPem;
  std::string clientKeyPem;

  // A second CA that nobody trusts, and a certificate for the server's names
  // signed by it.
  std::string untrustedCaPem;
  std::string untrustedCaKeyPem;
  std::string untrustedServerCertPem;
  std::string untrustedServerKeyPem;

  // Self-signed, for the server's names.
  std::string selfSignedCertPem;
  std::string selfSignedKeyPem;

  // The client key and certificate, with the CA as extra certificate.
  std::vector<std::uint8_t> clientPkcs12;               // password "secret"
  std::vector<std::uint8_t> clientPkcs12EmptyPassword;  // password ""
  std::vector<std::uint8_t> clientPkcs12NoPassword;     // no password (NULL)

  // Password "secret": the client certificate and the CA, but no key; the
  // client key, but no certificate.
  std::vector<std::uint8_t> certificateOnlyPkcs12;
  std::vector<std::uint8_t> keyOnlyPkcs12;

 private:
  TestCertificates();
};
