#include "component/sendara/base/detail/certificates/x509_from_pem.h"

#include <climits>

#include <openssl/bio.h>
#include <openssl/pem.h>

#include "component/sendara/base/detail/certificates/openssl_error_mark.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/internal_exception.h"

namespace sendara::base {

X509Ptr X509FromPem(std::span<const std::uint8_t> pem) {
  // OpenSSL refuses a memory stream over no bytes; no bytes hold no
  // certificate, which is an answer, not a failure.
  if (pem.empty()) return nullptr;
  SENDARA_CONTRACT(pem.size() <= static_cast<std::size_t>(INT_MAX),
                   "certificate data has invalid size");
  const OpenSslErrorMark mark;
  const BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  SENDARA_CHECK(bio != nullptr, internal_exception, oru::rc::OutOfMemory,
                "can't create new mem buf");
  return X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

X509Ptr X509FromPem(std::string_view pem) {
  return X509FromPem(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(pem.data()), pem.size()));
}

}  // namespace sendara::base
