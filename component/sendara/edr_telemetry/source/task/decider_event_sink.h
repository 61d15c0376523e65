#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/module_object_counter.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client.h"
#include "component/sendara/edr_telemetry/source/task/i_siem_telemetry_decider_event.h"

namespace sendara::edr_telemetry::task {

// Answers the task consumer's drop questions with the task's client.
class DeciderEventSink final
    : public oru::BasicObject<DeciderEventSink, oru::ModuleObjectCounter, ISiemTelemetryDeciderEvent> {
 public:
  explicit DeciderEventSink(oru::RefPtr<IEdrTelemetryClient> client) : m_client(std::move(client)) {}

  oru::Result ShouldEventBeDropped(std::uint32_t throttlingId, std::u16string_view eventType,
                                   bool* shouldBeDropped) noexcept override {
    return m_client->ShouldDropEvent(throttlingId, eventType, shouldBeDropped);
  }
  oru::Result ShouldEventOrIoaBeDropped(std::uint32_t throttlingId, std::u16string_view eventType,
                                        std::u16string_view event, std::vector<Ioa>& ioas,
                                        bool* shouldBeDropped) noexcept override {
    return m_client->ShouldDropEventOrIoa(throttlingId, eventType, event, ioas, shouldBeDropped);
  }

 private:
  const oru::RefPtr<IEdrTelemetryClient> m_client;
};

}  // namespace sendara::edr_telemetry::task
