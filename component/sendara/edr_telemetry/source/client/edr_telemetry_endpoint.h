#pragma once

#include <string>

#include "component/sendara/edr_telemetry/source/client/edr_telemetry_protocol.h"

namespace sendara::edr_telemetry {

// One destination of the telemetry.
struct EdrTelemetryEndpoint {
  EdrTelemetryProtocol protocol = EdrTelemetryProtocol::TCP;
  // Host, colon, port; the HTTP protocols also accept a scheme in front.
  std::string endpoint;
};

}  // namespace sendara::edr_telemetry
