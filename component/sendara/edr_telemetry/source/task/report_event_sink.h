#pragma once

#include <string_view>

#include "component/oru/basic_object.h"
#include "component/oru/module_object_counter.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client.h"
#include "component/sendara/edr_telemetry/source/task/i_siem_telemetry_report_event.h"

namespace sendara::edr_telemetry::task {

// Hands the events the task's consumer receives to the task's client.
class ReportEventSink final
    : public oru::BasicObject<ReportEventSink, oru::ModuleObjectCounter, ISiemTelemetryReportEvent> {
 public:
  explicit ReportEventSink(oru::RefPtr<IEdrTelemetryClient> client) : m_client(std::move(client)) {}

  // The producer cannot act on a failure: the client traces its own.
  oru::Result OnReport(std::u16string_view event) noexcept override {
    m_client->SendTelemetry(event);
    return oru::rc::NoError;
  }

 private:
  const oru::RefPtr<IEdrTelemetryClient> m_client;
};

}  // namespace sendara::edr_telemetry::task
