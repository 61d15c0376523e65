#include "component/sendara/edr_telemetry/source/consumers_manager/create_siem_telemetry_consumers_manager.h"

#include "component/sendara/edr_telemetry/source/consumers_manager/siem_telemetry_consumers_manager.h"

namespace sendara::edr_telemetry {

oru::RefPtr<oru::IObject> CreateSiemTelemetryConsumersManager(oru::IServiceLocator* locator) {
  // Through the provider: the object has several bases of IObject, and id 0
  // answers the provider too.
  return oru::RefPtr<ISiemTelemetryConsumersProvider>(SiemTelemetryConsumersManager::Create(locator));
}

}  // namespace sendara::edr_telemetry
