#pragma once

#include <cstdint>
#include <span>

namespace sendara::base {

// One certificate of the chain a TLS peer presented, as the HTTP client
// reports it (the first is the server's own certificate).
struct CertificateStatus {
  // The certificate in DER form; owned by the reporter.
  std::span<const std::uint8_t> der;
  // The classes of its verification errors (CertificateErrorClass bits); 0
  // when it has none.
  std::uint64_t errorMask = 0;
};

}  // namespace sendara::base
