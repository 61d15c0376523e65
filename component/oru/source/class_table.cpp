#include "component/oru/class_table.h"

#include <array>

#include "component/oru/exception_to_result.h"
#include "component/oru/i_tracer.h"
#include "component/oru/module_object_counter.h"
#include "component/oru/service_lookup.h"
#include "component/platform/thread.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/create_siem_telemetry_consumers_manager.h"
#include "component/sendara/edr_telemetry/source/task/create_edr_telemetry_client_service_factory.h"
#include "component/sendara/edr_telemetry/source/task/create_edr_telemetry_task.h"

namespace oru {
namespace {

// Searched in this order. A row whose creator is null answers ClassNotFound.
// Each creator is declared in a header of its own beside its class, so that
// this binding sees one signature, not the class and all it includes.
constexpr std::array<ClassTable::Row, 3> kRows{{
    {ClassTable::kSiemTelemetryConsumersManager,
     &sendara::edr_telemetry::CreateSiemTelemetryConsumersManager},
    {ClassTable::kEdrTelemetryTask, &sendara::edr_telemetry::task::CreateEdrTelemetryTask},
    {ClassTable::kEdrTelemetryClientServiceFactory,
     &sendara::edr_telemetry::task::CreateEdrTelemetryClientServiceFactory},
}};

}  // namespace

std::span<const ClassTable::Row> ClassTable::Rows() noexcept { return kRows; }

Result ClassTable::CreateObject(ClassId classId, IServiceLocator* locator,
                                IObject** object) noexcept {
  if (!object) return rc::InvalidArgument;
  // Every unknown id, including ones that other builds of the framework treat
  // specially, only answers ClassNotFound: no id may end the host process.
  const Row* row = nullptr;
  for (const Row& candidate : kRows) {
    if (candidate.classId == classId) {
      row = &candidate;
      break;
    }
  }
  if (!row || !row->creator) return rc::ClassNotFound;

  try {
    RefPtr<IObject> created = row->creator(locator);
    if (!created) return rc::Unexpected;
    *object = created.Detach();
    return rc::NoError;
  } catch (...) {
    const RefPtr<ITracer> tracer = GetOptionalService<ITracer>(locator);
    return ExceptionToResult(tracer.Get(), kConstructionFailurePrefix);
  }
}

std::int32_t ClassTable::CanUnloadModule() noexcept {
  // Objects first: a thread may still be on its way out after the last of
  // them has gone.
  if (ModuleObjectCounter::Count() != 0) return 1;
  return platform::Thread::LiveCount() == 0 ? 0 : 1;
}

}  // namespace oru
