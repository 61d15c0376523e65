#include "component/sendara/base/detail/certificates/x509_from_der.h"

#include <climits>

#include <openssl/x509.h>

#include "component/sendara/base/detail/certificates/openssl_error_mark.h"

namespace sendara::base {

X509Ptr X509FromDer(std::span<const std::uint8_t> der) {
  if (der.empty() || der.size() > static_cast<std::size_t>(LONG_MAX)) return nullptr;
  const OpenSslErrorMark mark;
  // d2i_X509 moves the cursor past what it read; the caller's span stays.
  const unsigned char* cursor = der.data();
  X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  // Bytes after the certificate make it another blob: a leaf with anything
  // appended must not compare equal to the configured certificate.
  if (certificate && cursor != der.data() + der.size()) return nullptr;
  return certificate;
}

}  // namespace sendara::base
