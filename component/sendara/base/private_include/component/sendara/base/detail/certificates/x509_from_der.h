#pragma once

#include <cstdint>
#include <span>

#include "component/sendara/base/detail/certificates/openssl_ptr.h"

namespace sendara::base {

// The certificate whose DER encoding starts `der`; empty when the bytes are
// no DER certificate.
X509Ptr X509FromDer(std::span<const std::uint8_t> der);

}  // namespace sendara::base
