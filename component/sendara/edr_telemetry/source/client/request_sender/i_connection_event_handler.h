#pragma once

#include <string_view>

#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_info.h"

namespace sendara::edr_telemetry {

// Hears how the connection to the SIEM goes, for the host's user interface.
// Called on the sending worker's thread.
class IConnectionEventHandler {
 public:
  virtual ~IConnectionEventHandler() = default;

  // An endpoint took a package (never reported for UDP, which cannot tell).
  virtual void Connected(std::string_view serverAddress, std::string_view tunnel) = 0;
  virtual void ConnectionError(const ConnectionErrorInfo& info) = 0;
};

}  // namespace sendara::edr_telemetry
