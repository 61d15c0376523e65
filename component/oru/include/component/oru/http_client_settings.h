#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "component/oru/i_certificate_verification_callback.h"
#include "component/oru/ref_ptr.h"

namespace oru {

// What a client is created with.
struct HttpClientSettings {
  // Limits of one request, in milliseconds; 0 leaves the client's default.
  std::uint32_t connectionTimeout = 0;
  std::uint32_t requestTimeout = 0;
  // When set, decides on the server's certificate chain in place of the
  // system's trust store and the host name check; without it those decide
  // (never switched off).
  RefPtr<ICertificateVerificationCallback> verification;
  // An HTTP proxy reached by CONNECT: "a.b.c.d:port", "[v6]:port", or a bare
  // address for the default proxy port.
  std::optional<std::string> tunnel;
};

}  // namespace oru
