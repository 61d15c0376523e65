#include "component/sendara/edr_telemetry/source/task/create_edr_telemetry_client_service_factory.h"

#include "component/sendara/edr_telemetry/source/task/edr_telemetry_client_service_factory.h"

namespace sendara::edr_telemetry::task {

oru::RefPtr<oru::IObject> CreateEdrTelemetryClientServiceFactory(oru::IServiceLocator* locator) {
  return EdrTelemetryClientServiceFactory::Create(locator);
}

}  // namespace sendara::edr_telemetry::task
