#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "component/sendara/base/detail/certificates/openssl_ptr.h"

namespace sendara::base {

// The first PEM certificate in `pem` (other PEM blocks before it are
// skipped); empty when the bytes hold none. Raises internal_exception
// "can't create new mem buf" when OpenSSL cannot wrap the bytes, and
// contract_exception when they are larger than OpenSSL can take (2 GiB).
X509Ptr X509FromPem(std::span<const std::uint8_t> pem);
X509Ptr X509FromPem(std::string_view pem);

}  // namespace sendara::base
