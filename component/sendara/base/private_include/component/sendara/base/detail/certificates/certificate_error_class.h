#pragma once

#include <cstdint>

#include <openssl/x509_vfy.h>

namespace sendara::base {

// The classes of certificate verification errors. A certificate's error mask
// and the settings' mask of tolerated errors (`validTlsErrors`) are made of
// these bits, so both ends must agree on them.
struct CertificateErrorClass {
  // The issuer was not found, or is not trusted.
  static constexpr std::uint64_t kIssuer = 1;
  // Not yet valid, or expired.
  static constexpr std::uint64_t kValidity = 2;
  // The signature cannot be checked, or is wrong.
  static constexpr std::uint64_t kSignature = 4;
  // Any other verification error.
  static constexpr std::uint64_t kOther = 8;
  // The certificate does not name the host that was connected to; set by
  // the host-name check, never by OpenSSL's verification.
  static constexpr std::uint64_t kHostName = 16;
};

// The class of an OpenSSL verification error (X509_V_ERR_*, as
// X509_STORE_CTX_get_error reports it). X509_V_OK is no error and has no
// class (0): mapping it to kOther would make a certificate without errors
// look like one that failed.
constexpr std::uint64_t CertificateErrorClassOf(int verifyError) noexcept {
  switch (verifyError) {
    case X509_V_OK:
      return 0;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return CertificateErrorClass::kIssuer;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return CertificateErrorClass::kValidity;
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
      return CertificateErrorClass::kSignature;
    default:
      return CertificateErrorClass::kOther;
  }
}

// The classes are tied to these numbers, which OpenSSL 1.1 and 3 share.
static_assert(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT == 2 &&
              X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY == 20 &&
              X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE == 21);
static_assert(X509_V_ERR_CERT_NOT_YET_VALID == 9 && X509_V_ERR_CERT_HAS_EXPIRED == 10 &&
              X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD == 13 &&
              X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD == 14);
static_assert(X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE == 4 &&
              X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY == 6 &&
              X509_V_ERR_CERT_SIGNATURE_FAILURE == 7);

}  // namespace sendara::base
