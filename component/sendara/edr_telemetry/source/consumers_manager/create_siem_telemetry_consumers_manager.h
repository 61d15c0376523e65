#pragma once

#include "component/oru/i_object.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/ref_ptr.h"

namespace sendara::edr_telemetry {

// The class table's creator of SiemTelemetryConsumersManager. A header of its
// own so that the framework binding sees only this signature, not the class
// and the headers it brings along.
oru::RefPtr<oru::IObject> CreateSiemTelemetryConsumersManager(oru::IServiceLocator* locator);

}  // namespace sendara::edr_telemetry
