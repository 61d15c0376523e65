#include "test_certificates.h"

#include <memory>
#include <stdexcept>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace {

struct KeyDeleter {
  void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
};
struct KeyContextDeleter {
  void operator()(EVP_PKEY_CTX* context) const noexcept { EVP_PKEY_CTX_free(context); }
};
struct CertificateDeleter {
  void operator()(X509* certificate) const noexcept { X509_free(certificate); }
};
struct ExtensionDeleter {
  void operator()(X509_EXTENSION* extension) const noexcept { X509_EXTENSION_free(extension); }
};
struct BioDeleter {
  void operator()(BIO* bio) const noexcept { BIO_free(bio); }
};
struct Pkcs12Deleter {
  void operator()(PKCS12* container) const noexcept { PKCS12_free(container); }
};
// The stack only: its certificates belong to their own owners.
struct CertificateStackDeleter {
  void operator()(STACK_OF(X509) * stack) const noexcept { sk_X509_free(stack); }
};
struct OpenSslMemoryDeleter {
  void operator()(unsigned char* bytes) const noexcept { OPENSSL_free(bytes); }
};

using KeyPtr = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using KeyContextPtr = std::unique_ptr<EVP_PKEY_CTX, KeyContextDeleter>;
using CertificatePtr = std::unique_ptr<X509, CertificateDeleter>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, ExtensionDeleter>;
using BioPtr = std::unique_ptr<BIO, BioDeleter>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, Pkcs12Deleter>;
using CertificateStackPtr = std::unique_ptr<STACK_OF(X509), CertificateStackDeleter>;
using OpenSslMemoryPtr = std::unique_ptr<unsigned char, OpenSslMemoryDeleter>;

constexpr long kHour = 60L * 60;
constexpr long kDay = 24 * kHour;
constexpr long kYear = 365 * kDay;

void Require(bool condition, const char* what) {
  if (!condition) throw std::runtime_error(std::string("TestCertificates: ") + what + " failed");
}

KeyPtr NewKey() {
  const KeyContextPtr context(EVP_PKEY_CTX_new_id(EVP_PKEY_EC, nullptr));
  Require(context != nullptr, "EVP_PKEY_CTX_new_id");
  Require(EVP_PKEY_keygen_init(context.get()) == 1, "EVP_PKEY_keygen_init");
  Require(EVP_PKEY_CTX_set_ec_paramgen_curve_nid(context.get(), NID_X9_62_prime256v1) == 1,
          "EVP_PKEY_CTX_set_ec_paramgen_curve_nid");
  EVP_PKEY* key = nullptr;
  Require(EVP_PKEY_keygen(context.get(), &key) == 1, "EVP_PKEY_keygen");
  return KeyPtr(key);
}

// What a certificate is made of; the issuer is the certificate itself when
// no issuer is given.
struct CertificateRequest {
  std::string commonName;
  long serial = 0;
  // Seconds from now.
  long notBefore = -kHour;
  long notAfter = 10 * kYear;
  bool isCa = false;
  // "serverAuth", "clientAuth", or empty for a CA.
  const char* extendedKeyUsage = nullptr;
  // subjectAltName value, e.g. "DNS:localhost,IP:127.0.0.1"; none when null.
  const char* subjectAltName = nullptr;
};

void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context{};
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  const ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  Require(extension != nullptr, "X509V3_EXT_conf_nid");
  Require(X509_add_ext(certificate, extension.get(), -1) == 1, "X509_add_ext");
}

CertificatePtr NewCertificate(const CertificateRequest& request, EVP_PKEY* subjectKey,
                              X509* issuer, EVP_PKEY* issuerKey) {
  CertificatePtr certificate(X509_new());
  Require(certificate != nullptr, "X509_new");
  X509* const self = certificate.get();
  Require(X509_set_version(self, 2) == 1, "X509_set_version");
  Require(ASN1_INTEGER_set(X509_get_serialNumber(self), request.serial) == 1, "ASN1_INTEGER_set");
  Require(X509_gmtime_adj(X509_getm_notBefore(self), request.notBefore) != nullptr,
          "X509_gmtime_adj");
  Require(X509_gmtime_adj(X509_getm_notAfter(self), request.notAfter) != nullptr,
          "X509_gmtime_adj");
  Require(X509_set_pubkey(self, subjectKey) == 1, "X509_set_pubkey");
  X509_NAME* subject = X509_get_subject_name(self);
  Require(X509_NAME_add_entry_by_txt(
              subject, "CN", MBSTRING_ASC,
              reinterpret_cast<const unsigned char*>(request.commonName.c_str()), -1, -1, 0) == 1,
          "X509_NAME_add_entry_by_txt");
  X509* const signer = issuer ? issuer : self;
  Require(X509_set_issuer_name(self, X509_get_subject_name(signer)) == 1, "X509_set_issuer_name");

  AddExtension(self, signer, NID_basic_constraints,
               request.isCa ? "critical,CA:TRUE" : "critical,CA:FALSE");
  AddExtension(self, signer, NID_key_usage,
               request.isCa ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
  // The subject key id first: a self-signed certificate's authority key id
  // is taken from it.
  AddExtension(self, signer, NID_subject_key_identifier, "hash");
  AddExtension(self, signer, NID_authority_key_identifier, "keyid:always");
  if (request.extendedKeyUsage) {
    AddExtension(self, signer, NID_ext_key_usage, request.extendedKeyUsage);
  }
  if (request.subjectAltName) {
    AddExtension(self, signer, NID_subject_alt_name, request.subjectAltName);
  }

  Require(X509_sign(self, issuerKey ? issuerKey : subjectKey, EVP_sha256()) > 0, "X509_sign");
  return certificate;
}

std::string TextOf(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  Require(size > 0 && data != nullptr, "BIO_get_mem_data");
  return std::string(data, static_cast<std::size_t>(size));
}

BioPtr NewMemoryBio() {
  BioPtr bio(BIO_new(BIO_s_mem()));
  Require(bio != nullptr, "BIO_new");
  return bio;
}

std::string CertificatePem(X509* certificate) {
  const BioPtr bio = NewMemoryBio();
  Require(PEM_write_bio_X509(bio.get(), certificate) == 1, "PEM_write_bio_X509");
  return TextOf(bio.get());
}

std::string KeyPem(EVP_PKEY* key) {
  const BioPtr bio = NewMemoryBio();
  Require(PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
          "PEM_write_bio_PrivateKey");
  return TextOf(bio.get());
}

std::vector<std::uint8_t> Pkcs12Der(const char* password, EVP_PKEY* key, X509* certificate,
                                    X509* extraCertificate) {
  CertificateStackPtr extra;
  if (extraCertificate) {
    extra.reset(sk_X509_new_null());
    Require(extra != nullptr, "sk_X509_new_null");
    Require(sk_X509_push(extra.get(), extraCertificate) > 0, "sk_X509_push");
  }
  // Default algorithms and iteration counts, a MAC made with the password.
  const Pkcs12Ptr container(
      PKCS12_create(password, "client", key, certificate, extra.get(), 0, 0, 0, 0, 0));
  Require(container != nullptr, "PKCS12_create");
  unsigned char* der = nullptr;
  const int size = i2d_PKCS12(container.get(), &der);
  const OpenSslMemoryPtr owned(der);
  Require(size > 0 && der != nullptr, "i2d_PKCS12");
  return std::vector<std::uint8_t>(der, der + size);
}

constexpr const char* kServerNames = "DNS:localhost,IP:127.0.0.1,IP:::1";

}  // namespace

const TestCertificates& TestCertificates::Get() {
  static const TestCertificates certificates;
  return certificates;
}

std::vector<std::uint8_t> TestCertificates::PemToDer(std::string_view certificatePem) {
  const BioPtr in(BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size())));
  Require(in != nullptr, "BIO_new_mem_buf");
  const CertificatePtr certificate(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
  Require(certificate != nullptr, "PEM_read_bio_X509");
  unsigned char* der = nullptr;
  const int size = i2d_X509(certificate.get(), &der);
  const OpenSslMemoryPtr owned(der);
  Require(size > 0 && der != nullptr, "i2d_X509");
  return std::vector<std::uint8_t>(der, der + size);
}

TestCertificates::TestCertificates() {
  const std::string password(kPkcs12Password);

  const KeyPtr caKey = NewKey();
  const CertificatePtr ca = NewCertificate(
      {.commonName = "EDR Telemetry Test CA", .serial = 1, .isCa = true}, caKey.get(), nullptr,
      nullptr);
  caPem = CertificatePem(ca.get());
  caKeyPem = KeyPem(caKey.get());

  const KeyPtr serverKey = NewKey();
  const CertificatePtr server = NewCertificate({.commonName = "localhost",
                                                .serial = 2,
                                                .extendedKeyUsage = "serverAuth",
                                                .subjectAltName = kServerNames},
                                               serverKey.get(), ca.get(), caKey.get());
  serverCertPem = CertificatePem(server.get());
  serverKeyPem = KeyPem(serverKey.get());

  const KeyPtr expiredKey = NewKey();
  const CertificatePtr expired = NewCertificate({.commonName = "localhost",
                                                 .serial = 3,
                                                 .notBefore = -2 * kYear,
                                                 .notAfter = -kYear,
                                                 .extendedKeyUsage = "serverAuth",
                                                 .subjectAltName = kServerNames},
                                                expiredKey.get(), ca.get(), caKey.get());
  expiredCertPem = CertificatePem(expired.get());
  expiredKeyPem = KeyPem(expiredKey.get());

  const KeyPtr wrongNameKey = NewKey();
  const CertificatePtr wrongName = NewCertificate({.commonName = "other.invalid",
                                                   .serial = 4,
                                                   .extendedKeyUsage = "serverAuth",
                                                   .subjectAltName = "DNS:other.invalid"},
                                                  wrongNameKey.get(), ca.get(), caKey.get());
  wrongNameCertPem = CertificatePem(wrongName.get());
  wrongNameKeyPem = KeyPem(wrongNameKey.get());

  const KeyPtr clientKey = NewKey();
  const CertificatePtr client = NewCertificate(
      {.commonName = "edr-telemetry-client", .serial = 5, .extendedKeyUsage = "clientAuth"},
      clientKey.get(), ca.get(), caKey.get());
  clientCertPem = CertificatePem(client.get());
  clientKeyPem = KeyPem(clientKey.get());

  const KeyPtr untrustedCaKey = NewKey();
  const CertificatePtr untrustedCa = NewCertificate(
      {.commonName = "EDR Telemetry Untrusted Test CA", .serial = 6, .isCa = true},
      untrustedCaKey.get(), nullptr, nullptr);
  untrustedCaPem = CertificatePem(untrustedCa.get());
  untrustedCaKeyPem = KeyPem(untrustedCaKey.get());

  const KeyPtr untrustedServerKey = NewKey();
  const CertificatePtr untrustedServer =
      NewCertificate({.commonName = "localhost",
                      .serial = 7,
                      .extendedKeyUsage = "serverAuth",
                      .subjectAltName = kServerNames},
                     untrustedServerKey.get(), untrustedCa.get(), untrustedCaKey.get());
  untrustedServerCertPem = CertificatePem(untrustedServer.get());
  untrustedServerKeyPem = KeyPem(untrustedServerKey.get());

  const KeyPtr selfSignedKey = NewKey();
  const CertificatePtr selfSigned = NewCertificate({.commonName = "localhost",
                                                    .serial = 8,
                                                    .extendedKeyUsage = "serverAuth",
                                                    .subjectAltName = kServerNames},
                                                   selfSignedKey.get(), nullptr, nullptr);
  selfSignedCertPem = CertificatePem(selfSigned.get());
  selfSignedKeyPem = KeyPem(selfSignedKey.get());

  clientPkcs12 = Pkcs12Der(password.c_str(), clientKey.get(), client.get(), ca.get());
  clientPkcs12EmptyPassword = Pkcs12Der("", clientKey.get(), client.get(), ca.get());
  clientPkcs12NoPassword = Pkcs12Der(nullptr, clientKey.get(), client.get(), ca.get());
  certificateOnlyPkcs12 = Pkcs12Der(password.c_str(), nullptr, client.get(), ca.get());
  keyOnlyPkcs12 = Pkcs12Der(password.c_str(), clientKey.get(), nullptr, nullptr);
}
