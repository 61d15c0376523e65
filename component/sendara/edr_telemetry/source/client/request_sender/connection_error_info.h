#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "component/sendara/base/detail/common/connection_exception.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_reason.h"

namespace sendara::edr_telemetry {

// The connection-error properties of a connection_exception.
struct ConnectionErrorInfo {
  static constexpr std::string_view kReason = "reason";
  static constexpr std::string_view kServerAddress = "server_address";
  static constexpr std::string_view kApiVersion = "api_version";
  static constexpr std::string_view kDataDiodeProtocol = "data_diode_protocol";

  // Reason 0 when the exception does not carry one.
  std::uint32_t reason = 0;
  std::string serverAddress;
  std::optional<std::string> apiVersion;
  std::optional<std::uint32_t> dataDiodeProtocol;

  static ConnectionErrorInfo From(const base::connection_exception& exception);
  // Writes the properties into `exception` (the optional ones when present).
  void ApplyTo(base::connection_exception& exception) const;
};

}  // namespace sendara::edr_telemetry
