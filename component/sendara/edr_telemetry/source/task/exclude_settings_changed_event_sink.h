#pragma once

#include <string>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/module_object_counter.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client.h"
#include "component/sendara/edr_telemetry/source/task/i_siem_telemetry_exclude_settings_changed_event.h"

namespace sendara::edr_telemetry::task {

// Passes the event types the task's consumer does not want to the client.
class ExcludeSettingsChangedEventSink final
    : public oru::BasicObject<ExcludeSettingsChangedEventSink, oru::ModuleObjectCounter,
                              ISiemTelemetryExcludeSettingsChangedEvent> {
 public:
  explicit ExcludeSettingsChangedEventSink(oru::RefPtr<IEdrTelemetryClient> client) : m_client(std::move(client)) {}

  // The consumer cannot act on a failure: the client traces its own.
  oru::Result OnExcludeSettingsChanged(const std::vector<std::u16string>& excludedEventTypes) noexcept override {
    m_client->SetExcludedEventTypes(excludedEventTypes);
    return oru::rc::NoError;
  }

 private:
  const oru::RefPtr<IEdrTelemetryClient> m_client;
};

}  // namespace sendara::edr_telemetry::task
