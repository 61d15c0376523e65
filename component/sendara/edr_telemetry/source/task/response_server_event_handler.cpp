#include "component/sendara/edr_telemetry/source/task/response_server_event_handler.h"

#include <string>
#include <utility>

#include "component/oru/exception_to_result.h"
#include "component/sendara/base/detail/common/function_name.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::edr_telemetry::task {

using base::TraceLevel;

ResponseServerEventHandler::ResponseServerEventHandler(oru::RefPtr<oru::ITracer> tracer,
                                                       std::function<void(bool started)> onEvent,
                                                       std::uint16_t integrationId)
    : m_tracer(std::move(tracer)), m_onEvent(std::move(onEvent)), m_integrationId(integrationId) {}

oru::Result ResponseServerEventHandler::OnConnectionEvent(std::uint16_t integrationId, bool started) noexcept {
  if (integrationId != m_integrationId) return oru::rc::NoError;
  try {
    if (started) {
      SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                    "response server started, start telemetry: integration id = " << integrationId);
    }
    m_onEvent(started);
  } catch (...) {
    oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
  // The host learns nothing it could act on from a failure here.
  return oru::rc::NoError;
}

}  // namespace sendara::edr_telemetry::task
