#pragma once

#include <string>
#include <vector>

#include "component/oru/i_event_source.h"
#include "component/oru/i_object.h"

namespace sendara::edr_telemetry::task {

// Handed the event types the consumer does not want, whenever they change.
class ISiemTelemetryExcludeSettingsChangedEvent : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = 0x7E35C2D9;

  // Ascending code-unit order, no duplicates.
  virtual oru::Result OnExcludeSettingsChanged(const std::vector<std::u16string>& excludedEventTypes) noexcept = 0;

 protected:
  ~ISiemTelemetryExcludeSettingsChangedEvent() = default;
};

using ISiemTelemetryExcludeSettingsChangedEventSource =
    oru::IEventSource<ISiemTelemetryExcludeSettingsChangedEvent, 0xA24EBDF8>;

}  // namespace sendara::edr_telemetry::task
