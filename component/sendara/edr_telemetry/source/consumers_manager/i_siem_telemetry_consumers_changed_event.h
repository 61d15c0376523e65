#pragma once

#include "component/oru/i_event_source.h"
#include "component/oru/i_object.h"

namespace sendara::edr_telemetry {

// Told that the set of consumers, or what one of them wants, has changed.
class ISiemTelemetryConsumersChangedEvent : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = 0x5B0E3A71;

  virtual oru::Result OnConsumersChanged() noexcept = 0;

 protected:
  ~ISiemTelemetryConsumersChangedEvent() = default;
};

using ISiemTelemetryConsumersChangedEventSource = oru::IEventSource<ISiemTelemetryConsumersChangedEvent, 0x492ECD36>;

}  // namespace sendara::edr_telemetry
