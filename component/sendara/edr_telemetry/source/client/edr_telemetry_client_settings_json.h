#pragma once

#include <string>
#include <vector>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings.h"

namespace sendara::edr_telemetry {

// The trace form of a settings record; it is written, never read back.
// Members in this order: "endpoints", "serverCerts", "validTlsErrors" (when
// present), "clientCert" (when present, the private key as
// "<sensitive data>"), "telemetryTransferSettings", "persistentDataPath",
// "persistentTelemetryPartSize", "persistentTelemetryPartCount",
// "persistentTelemetryPartRemoveCount", "timeoutConnection",
// "timeoutRequest", "excludeRules", then "excludedEventTypes",
// "allowedEventTypes" and "allowedEventFields" (each when present). The
// tunnel and the gzip level are left out. Wide texts are written in UTF-8.
boost::json::object ToTraceJson(const EdrTelemetryClientSettings& settings);

// The compact text of ToTraceJson.
std::string ToTraceString(const EdrTelemetryClientSettings& settings);

// One endpoint: {"protocol":...,"endpoint":...}.
boost::json::object EndpointToTraceJson(const EdrTelemetryEndpoint& endpoint);

// A list of event types as a JSON array of UTF-8 strings.
boost::json::array EventTypesToTraceJson(const std::vector<std::u16string>& eventTypes);

}  // namespace sendara::edr_telemetry
