#pragma once

#include <cstdint>
#include <ostream>
#include <string_view>

namespace sendara::edr_telemetry {

// How the client talks to one endpoint. The values are fixed: the host hands
// them over as numbers.
enum class EdrTelemetryProtocol : std::uint32_t {
  TCP = 0,
  TCP_TLS = 1,
  HTTP_COMPRESSED = 2,
  UDP = 3,
  HTTP = 4,
};

// "TCP", "TCP_TLS", "HTTP_COMPRESSED", "UDP" or "HTTP"; "Undefined" for a
// number outside the enumeration, which the host can hand over as well.
std::string_view ToString(EdrTelemetryProtocol protocol) noexcept;

std::ostream& operator<<(std::ostream& stream, EdrTelemetryProtocol protocol);

}  // namespace sendara::edr_telemetry
