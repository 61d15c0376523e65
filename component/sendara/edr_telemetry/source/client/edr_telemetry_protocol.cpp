#include "component/sendara/edr_telemetry/source/client/edr_telemetry_protocol.h"

namespace sendara::edr_telemetry {

std::string_view ToString(EdrTelemetryProtocol protocol) noexcept {
  switch (protocol) {
    case EdrTelemetryProtocol::TCP:
      return "TCP";
    case EdrTelemetryProtocol::TCP_TLS:
      return "TCP_TLS";
    case EdrTelemetryProtocol::HTTP_COMPRESSED:
      return "HTTP_COMPRESSED";
    case EdrTelemetryProtocol::UDP:
      return "UDP";
    case EdrTelemetryProtocol::HTTP:
      return "HTTP";
  }
  return "Undefined";
}

std::ostream& operator<<(std::ostream& stream, EdrTelemetryProtocol protocol) {
  return stream << ToString(protocol);
}

}  // namespace sendara::edr_telemetry
