#pragma once

#include <cstdint>
#include <span>

namespace oru {

// One certificate of the chain a TLS peer presented, as the host's HTTP
// client reports it (the first is the server's own certificate).
struct CertificateStatus {
  // The certificate in DER form; owned by the reporter, valid during the call.
  std::span<const std::uint8_t> der;
  // The classes of its verification errors: 1 issuer not found or untrusted,
  // 2 not yet valid or expired, 4 signature problems, 8 any other
  // verification error, 16 host name mismatch; 0 when it has none.
  std::uint64_t errorMask = 0;
};

}  // namespace oru
