#pragma once

#include <cstdint>
#include <vector>

#include <openssl/x509.h>

namespace sendara::base {

// The DER encoding of `certificate`. Raises internal_exception "could not
// serialize certificate" when OpenSSL reports no encoded length, and "can't
// encode certificate" when the encoding itself fails; contract_exception for
// a null certificate.
std::vector<std::uint8_t> X509CerToDerBlob(X509* certificate);

}  // namespace sendara::base
