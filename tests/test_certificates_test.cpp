// The certificates the tests make for themselves are what they claim to be.

#include <memory>
#include <string_view>

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "test_certificates.h"

namespace {

struct CertificateDeleter {
  void operator()(X509* certificate) const noexcept { X509_free(certificate); }
};
using CertificatePtr = std::unique_ptr<X509, CertificateDeleter>;

CertificatePtr Parse(std::string_view pem) {
  BIO* in = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (!in) return nullptr;
  CertificatePtr certificate(PEM_read_bio_X509(in, nullptr, nullptr, nullptr));
  BIO_free(in);
  return certificate;
}

// The verification error of `leaf` against a store that trusts `ca` only;
// X509_V_OK when it verifies.
int VerifyAgainst(std::string_view ca, std::string_view leaf) {
  const CertificatePtr trusted = Parse(ca);
  const CertificatePtr certificate = Parse(leaf);
  if (!trusted || !certificate) return -1;
  X509_STORE* store = X509_STORE_new();
  X509_STORE_CTX* context = X509_STORE_CTX_new();
  int error = -1;
  if (store && context && X509_STORE_add_cert(store, trusted.get()) == 1 &&
      X509_STORE_CTX_init(context, store, certificate.get(), nullptr) == 1) {
    X509_verify_cert(context);
    error = X509_STORE_CTX_get_error(context);
  }
  X509_STORE_CTX_free(context);
  X509_STORE_free(store);
  return error;
}

TEST(TestCertificates, ServerCertificateVerifiesAgainstTheCa) {
  const TestCertificates& certificates = TestCertificates::Get();
  EXPECT_EQ(VerifyAgainst(certificates.caPem, certificates.serverCertPem), X509_V_OK);
  EXPECT_EQ(VerifyAgainst(certificates.caPem, certificates.clientCertPem), X509_V_OK);
  EXPECT_EQ(VerifyAgainst(certificates.caPem, certificates.wrongNameCertPem), X509_V_OK);
  EXPECT_EQ(VerifyAgainst(certificates.caPem, certificates.expiredCertPem),
            X509_V_ERR_CERT_HAS_EXPIRED);
  EXPECT_EQ(VerifyAgainst(certificates.caPem, certificates.untrustedServerCertPem),
            X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY);
  EXPECT_EQ(VerifyAgainst(certificates.untrustedCaPem, certificates.untrustedServerCertPem),
            X509_V_OK);

  const CertificatePtr server = Parse(certificates.serverCertPem);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(X509_check_host(server.get(), "localhost", 0, 0, nullptr), 1);
  EXPECT_EQ(X509_check_ip_asc(server.get(), "127.0.0.1", 0), 1);
  EXPECT_EQ(X509_check_ip_asc(server.get(), "::1", 0), 1);
  const CertificatePtr wrongName = Parse(certificates.wrongNameCertPem);
  ASSERT_NE(wrongName, nullptr);
  EXPECT_EQ(X509_check_host(wrongName.get(), "localhost", 0, 0, nullptr), 0);
  EXPECT_EQ(X509_check_ip_asc(wrongName.get(), "127.0.0.1", 0), 0);

  EXPECT_FALSE(certificates.clientPkcs12.empty());
  EXPECT_FALSE(certificates.clientPkcs12EmptyPassword.empty());
  EXPECT_FALSE(certificates.clientPkcs12NoPassword.empty());
  EXPECT_FALSE(TestCertificates::PemToDer(certificates.caPem).empty());
}

}  // namespace
