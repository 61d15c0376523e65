#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_reason.h"

#include <array>

namespace sendara::edr_telemetry {

std::optional<std::string_view> ConnectionErrorReasonName(std::uint32_t reason) noexcept {
  static constexpr std::array<std::string_view, 5> kNames = {
      "eCommon", "eInvalidClientCertificate", "eInvalidServerCertificate", "eConnectionLost", "eBadCredentials"};
  if (reason >= kNames.size()) return std::nullopt;
  return kNames[reason];
}

}  // namespace sendara::edr_telemetry
