#pragma once

#include <memory>

#include "component/oru/i_object.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_connection_event_handler.h"

namespace sendara::edr_telemetry::task {

// Creates clients for the task, which finds it in the locator: the host may
// register its own to put something between the task and its clients.
class IEdrTelemetryClientServiceFactory : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = 0xBEAA897C;

  // Writes a new client, not started, to `*client`. A null `eventHandler`
  // drops the client's connection events.
  virtual oru::Result CreateEdrTelemetryClient(const EdrTelemetryClientSettings& settings,
                                               std::shared_ptr<IConnectionEventHandler> eventHandler,
                                               IEdrTelemetryClient** client) noexcept = 0;

 protected:
  ~IEdrTelemetryClientServiceFactory() = default;
};

}  // namespace sendara::edr_telemetry::task
