#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_certificate.h"

namespace sendara::edr_telemetry {

// The part of the client settings that opening one connection needs.
struct ConnectionParameters {
  std::optional<EdrTelemetryClientCertificate> clientCert;
  // PEM text of the certificates trusted for the server.
  std::vector<std::uint8_t> serverCerts;
  std::optional<std::uint64_t> validTlsErrors;
  // Milliseconds.
  std::uint32_t timeoutConnection = 500;
  std::uint32_t timeoutRequest = 500;
  std::optional<std::string> tunnel;
};

}  // namespace sendara::edr_telemetry
