#pragma once

#include <memory>

#include "component/oru/i_service_locator.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_connection_event_handler.h"

namespace sendara::edr_telemetry {

// Builds a client and everything it owns from `settings`, with the host's
// services from `locator`; the client is not started. A null `eventHandler`
// drops every connection event. Raises GetInterfaceException for a required
// service the locator lacks, contract_exception for settings that are not
// valid, and what creating the persistent storage raises.
oru::RefPtr<IEdrTelemetryClient> CreateEdrTelemetryClient(const EdrTelemetryClientSettings& settings,
                                                          oru::IServiceLocator* locator,
                                                          std::shared_ptr<IConnectionEventHandler> eventHandler);

}  // namespace sendara::edr_telemetry
