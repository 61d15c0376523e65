#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "component/sendara/base/detail/common/stop_token.h"

namespace sendara::edr_telemetry {

// Delivers packages of events to a SIEM endpoint.
class IRequestSender {
 public:
  using Batch = std::span<const std::string_view>;

  virtual ~IRequestSender() = default;

  // Hands the events (UTF-8 texts, in queue order) to the transport, adding
  // to `sentCount` each event handed over, also when it then throws:
  //   stop_exception        the client is stopping;
  //   connection_exception  the endpoint refused the client or could not be
  //                         reached (properties "reason", "server_address");
  //   bad_request_exception the endpoint refused the package itself;
  //   other internal_exception, sendara_exception: error statuses, settings.
  virtual void Send(Batch batch, std::uint64_t& sentCount, const base::StopToken& stopToken) = 0;

  // After a pass: waits until what was handed over is written, then stops
  // the transport's threads and closes its connections.
  virtual void WaitAndCloseConnections() = 0;
};

}  // namespace sendara::edr_telemetry
