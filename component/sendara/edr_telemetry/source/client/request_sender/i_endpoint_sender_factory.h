#pragma once

#include <memory>

#include "component/sendara/edr_telemetry/source/client/edr_telemetry_endpoint.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_request_sender.h"

namespace sendara::edr_telemetry {

// Makes the sender of one configured endpoint.
class IEndpointSenderFactory {
 public:
  virtual ~IEndpointSenderFactory() = default;

  // Raises what the sender's construction raises, and sendara_exception for
  // a protocol without a sender.
  virtual std::shared_ptr<IRequestSender> CreateSender(const EdrTelemetryEndpoint& endpoint) = 0;
};

}  // namespace sendara::edr_telemetry
