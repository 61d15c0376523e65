#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace sendara::edr_telemetry {

// Why a connection failed, as carried by a connection_exception.
enum class ConnectionErrorReason : std::uint32_t {
  eCommon = 0,
  eInvalidClientCertificate = 1,
  eInvalidServerCertificate = 2,
  eConnectionLost = 3,
  eBadCredentials = 4,
};

// The reason's name; nothing for a value outside the table (it is passed on
// unchanged all the same).
std::optional<std::string_view> ConnectionErrorReasonName(std::uint32_t reason) noexcept;

}  // namespace sendara::edr_telemetry
