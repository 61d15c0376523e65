#pragma once

#include <memory>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

namespace sendara::base {

// Owning pointers to OpenSSL objects: whatever path a function leaves by,
// each object it made is freed exactly once.

struct X509Deleter {
  void operator()(X509* certificate) const noexcept { X509_free(certificate); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;

struct BioDeleter {
  void operator()(BIO* bio) const noexcept { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioDeleter>;

struct EvpPkeyDeleter {
  void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
};
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyDeleter>;

struct Pkcs12Deleter {
  void operator()(PKCS12* container) const noexcept { PKCS12_free(container); }
};
using Pkcs12Ptr = std::unique_ptr<PKCS12, Pkcs12Deleter>;

}  // namespace sendara::base
