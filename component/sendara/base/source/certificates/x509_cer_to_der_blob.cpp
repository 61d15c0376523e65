#include "component/sendara/base/detail/certificates/x509_cer_to_der_blob.h"

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/internal_exception.h"

namespace sendara::base {

std::vector<std::uint8_t> X509CerToDerBlob(X509* certificate) {
  SENDARA_CONTRACT(certificate != nullptr, "certificate is null");
  const int size = i2d_X509(certificate, nullptr);
  SENDARA_CHECK(size > 0, internal_exception, oru::rc::UnspecifiedError,
                "could not serialize certificate");
  std::vector<std::uint8_t> der(static_cast<std::size_t>(size));
  // i2d_X509 writes at the cursor and moves it; the vector keeps its start.
  unsigned char* cursor = der.data();
  SENDARA_CHECK(i2d_X509(certificate, &cursor) == size, internal_exception,
                oru::rc::UnspecifiedError, "can't encode certificate");
  return der;
}

}  // namespace sendara::base
