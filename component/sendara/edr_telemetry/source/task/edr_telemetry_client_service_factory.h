#pragma once

#include <memory>

#include "component/oru/basic_object.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/i_tracer.h"
#include "component/oru/module_object_counter.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_client_service_factory.h"

namespace sendara::edr_telemetry::task {

// The component's own client factory: builds each client with the host's
// services from the locator it was created with.
class EdrTelemetryClientServiceFactory final
    : public oru::BasicObject<EdrTelemetryClientServiceFactory, oru::ModuleObjectCounter,
                              IEdrTelemetryClientServiceFactory> {
 public:
  // Raises GetInterfaceException when `locator` has no tracer.
  explicit EdrTelemetryClientServiceFactory(oru::IServiceLocator* locator);

  // InvalidArgument, with nothing else done, for a null `client`.
  oru::Result CreateEdrTelemetryClient(const EdrTelemetryClientSettings& settings,
                                       std::shared_ptr<IConnectionEventHandler> eventHandler,
                                       IEdrTelemetryClient** client) noexcept override;

 private:
  ~EdrTelemetryClientServiceFactory() override = default;

  const oru::RefPtr<oru::IServiceLocator> m_locator;
  const oru::RefPtr<oru::ITracer> m_tracer;
};

}  // namespace sendara::edr_telemetry::task
