#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "component/oru/basic_object.h"
#include "component/oru/i_response_server_event_handler.h"
#include "component/oru/i_tracer.h"
#include "component/oru/module_object_counter.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client.h"
#include "component/sendara/edr_telemetry/source/task/task_start_gate.h"

namespace sendara::edr_telemetry::task {

// Starts a task's client once the host's response server of the task's
// integration has started. The first event for the integration registers
// the task's consumer, whatever it says; an event saying "started" starts
// the client. Nothing happens once the task has closed the gate.
class ResponseServerEventHandler final
    : public oru::BasicObject<ResponseServerEventHandler, oru::ModuleObjectCounter, oru::IResponseServerEventHandler> {
 public:
  // `addConsumer` must hold what it uses by counted reference: the handler
  // may outlive the task. It may throw.
  ResponseServerEventHandler(oru::RefPtr<oru::ITracer> tracer, std::shared_ptr<TaskStartGate> gate,
                             oru::RefPtr<IEdrTelemetryClient> client, std::function<void()> addConsumer,
                             std::uint16_t integrationId);

  oru::Result OnConnectionEvent(std::uint16_t integrationId, bool started) noexcept override;

 private:
  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<TaskStartGate> m_gate;
  const oru::RefPtr<IEdrTelemetryClient> m_client;
  const std::function<void()> m_addConsumer;
  std::atomic<bool> m_consumerAdded{false};
  const std::uint16_t m_integrationId;
};

}  // namespace sendara::edr_telemetry::task
