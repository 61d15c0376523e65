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
                                                       std::shared_ptr<TaskStartGate> gate,
                                                       oru::RefPtr<IEdrTelemetryClient> client,
                                                       std::function<void()> addConsumer, std::uint16_t integrationId)
    : m_tracer(std::move(tracer)),
      m_gate(std::move(gate)),
      m_client(std::move(client)),
      m_addConsumer(std::move(addConsumer)),
      m_integrationId(integrationId) {}

oru::Result ResponseServerEventHandler::OnConnectionEvent(std::uint16_t integrationId, bool started) noexcept {
  if (integrationId != m_integrationId) return oru::rc::NoError;
  try {
    // Held while acting, so that a task closing the gate waits for this.
    std::lock_guard lock(m_gate->mutex);
    if (!m_gate->open) return oru::rc::NoError;
    if (!m_consumerAdded.exchange(true)) {
      try {
        m_addConsumer();
      } catch (...) {
        // The next event tries again.
        m_consumerAdded = false;
        throw;
      }
    }
    if (!started) return oru::rc::NoError;
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "response server started, start telemetry: integration id = "
                                                   << integrationId);
    const oru::Result result = m_client->Start();
    if (oru::Failed(result)) {
      SENDARA_TRACE(m_tracer, TraceLevel::kError, "client not started: result = " << result);
    }
  } catch (...) {
    oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
  // The host learns nothing it could act on from a failure here.
  return oru::rc::NoError;
}

}  // namespace sendara::edr_telemetry::task
