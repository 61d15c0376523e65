#include "component/sendara/edr_telemetry/source/task/create_edr_telemetry_task.h"

#include "component/sendara/edr_telemetry/source/task/edr_telemetry_task.h"

namespace sendara::edr_telemetry::task {

oru::RefPtr<oru::IObject> CreateEdrTelemetryTask(oru::IServiceLocator* locator) {
  return oru::RefPtr<oru::IObject>(
      static_cast<oru::ITask*>(EdrTelemetryTask::Create(oru::RefPtr<oru::IServiceLocator>(locator)).Get()));
}

}  // namespace sendara::edr_telemetry::task
