#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "component/sendara/base/detail/common/wiping_allocator.h"

namespace sendara::edr_telemetry {

// The certificate the client presents to a TLS server.
struct EdrTelemetryClientCertificate {
  // PEM text of the certificate.
  std::string certPublic;
  // PEM text of the private key. A secret: it is never written to a trace,
  // and its memory is wiped when freed.
  base::SecretBytes keyPrivate;
};

}  // namespace sendara::edr_telemetry
