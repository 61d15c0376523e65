#pragma once

#include <cstdint>
#include <functional>

#include "component/oru/basic_object.h"
#include "component/oru/i_response_server_event_handler.h"
#include "component/oru/i_tracer.h"
#include "component/oru/module_object_counter.h"
#include "component/oru/ref_ptr.h"

namespace sendara::edr_telemetry::task {

// Passes the host's response server events of one integration on to a
// started task, whose run decides what they do. The host may call it on any
// thread at any time, even after the task has stopped or gone: `onEvent`
// must then do nothing.
class ResponseServerEventHandler final
    : public oru::BasicObject<ResponseServerEventHandler, oru::ModuleObjectCounter, oru::IResponseServerEventHandler> {
 public:
  // `onEvent(started)` may throw; the failure is traced.
  ResponseServerEventHandler(oru::RefPtr<oru::ITracer> tracer, std::function<void(bool started)> onEvent,
                             std::uint16_t integrationId);

  oru::Result OnConnectionEvent(std::uint16_t integrationId, bool started) noexcept override;

 private:
  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::function<void(bool)> m_onEvent;
  const std::uint16_t m_integrationId;
};

}  // namespace sendara::edr_telemetry::task
