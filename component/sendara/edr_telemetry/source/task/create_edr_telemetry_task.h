#pragma once

#include "component/oru/i_object.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/ref_ptr.h"

namespace sendara::edr_telemetry::task {

// The class table's creator of EdrTelemetryTask (see
// create_edr_telemetry_client_service_factory.h for why a header of its own).
oru::RefPtr<oru::IObject> CreateEdrTelemetryTask(oru::IServiceLocator* locator);

}  // namespace sendara::edr_telemetry::task
