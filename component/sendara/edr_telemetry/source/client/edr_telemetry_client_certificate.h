#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sendara::edr_telemetry {

// The certificate the client presents to a TLS server.
struct EdrTelemetryClientCertificate {
  // PEM text of the certificate.
  std::string certPublic;
  // PEM text of the private key. A secret: it is never written to a trace.
  std::vector<std::uint8_t> keyPrivate;
};

}  // namespace sendara::edr_telemetry
