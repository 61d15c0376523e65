#include "component/sendara/edr_telemetry/source/task/edr_telemetry_client_service_factory.h"

#include <string>
#include <utility>

#include "component/oru/exception_to_result.h"
#include "component/oru/result_code_exception.h"
#include "component/oru/service_lookup.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/edr_telemetry/source/client/create_edr_telemetry_client.h"

namespace sendara::edr_telemetry::task {

EdrTelemetryClientServiceFactory::EdrTelemetryClientServiceFactory(oru::IServiceLocator* locator)
    : m_locator(locator), m_tracer(oru::GetRequiredService<oru::ITracer>(locator)) {}

oru::Result EdrTelemetryClientServiceFactory::CreateEdrTelemetryClient(
    const EdrTelemetryClientSettings& settings, std::shared_ptr<IConnectionEventHandler> eventHandler,
    IEdrTelemetryClient** client) noexcept {
  if (!client) return oru::rc::InvalidArgument;
  try {
    SENDARA_TRACE(m_tracer, base::TraceLevel::kInfo, "");
    oru::RefPtr<IEdrTelemetryClient> created =
        edr_telemetry::CreateEdrTelemetryClient(settings, m_locator.Get(), std::move(eventHandler));
    if (!created) SENDARA_THROW(oru::ResultCodeException, oru::rc::Unexpected, "no client created");
    *client = created.Detach();
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

}  // namespace sendara::edr_telemetry::task
