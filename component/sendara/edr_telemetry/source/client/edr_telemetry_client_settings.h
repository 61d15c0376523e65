#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_certificate.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_endpoint.h"
#include "component/sendara/edr_telemetry/source/client/exclusion_rules.h"
#include "component/sendara/edr_telemetry/source/client/telemetry_transfer_settings.h"

namespace sendara::edr_telemetry {

// The one settings record of a telemetry client. A value type: readers get
// their own copy, so a change never alters a record someone is reading.
struct EdrTelemetryClientSettings {
  // Tried in this order.
  std::vector<EdrTelemetryEndpoint> endpoints;
  // Address, colon, port of a tunnel to go through.
  std::optional<std::string> tunnel;
  // PEM text of the certificates trusted for the server.
  std::vector<std::uint8_t> serverCerts;
  // Mask of TLS verification errors to tolerate.
  std::optional<std::uint64_t> validTlsErrors = 0;
  std::optional<EdrTelemetryClientCertificate> clientCert;
  TelemetryTransferSettings telemetryTransferSettings;
  // Base folder of the persistent storage; fixed for the client's lifetime.
  std::u16string persistentDataPath;
  // Size limit of one storage partition, in MiB.
  std::uint32_t persistentTelemetryPartSize = 25;
  std::uint32_t persistentTelemetryPartCount = 40;
  // Partitions removed at once when the storage is full.
  std::uint32_t persistentTelemetryPartRemoveCount = 4;
  // Milliseconds.
  std::uint32_t timeoutConnection = 500;
  std::uint32_t timeoutRequest = 500;
  ExclusionRules excludeRules;
  // Owned by the provider's SetExcludedEventTypes: a settings change keeps them.
  std::optional<std::vector<std::u16string>> excludedEventTypes;
  // When present, only these types are sent.
  std::optional<std::vector<std::u16string>> allowedEventTypes;
  // When present, only these fields remain in a sent event.
  std::optional<std::vector<std::string>> allowedEventFields;
  // 0, 5 or 9.
  std::uint32_t gzipCompressionLevel = 5;
};

// Raises contract_exception (InvalidArgument) naming the first rule the
// record breaks, its text under "additional_info". With `previous`, the
// record is a change of that one, and the storage path must stay as it was
// (the property "oldPath" and "newPath" then name both, in UTF-8).
void ValidateSettings(const EdrTelemetryClientSettings& settings,
                      const EdrTelemetryClientSettings* previous);

}  // namespace sendara::edr_telemetry
