#pragma once

#include <string_view>

#include "component/oru/i_event_source.h"
#include "component/oru/i_object.h"

namespace sendara::edr_telemetry::task {

// Handed each event the consumer is to send.
class ISiemTelemetryReportEvent : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = 0x2F6C81A4;

  virtual oru::Result OnReport(std::u16string_view event) noexcept = 0;

 protected:
  ~ISiemTelemetryReportEvent() = default;
};

using ISiemTelemetryReportEventSource = oru::IEventSource<ISiemTelemetryReportEvent, 0xEE726034>;

}  // namespace sendara::edr_telemetry::task
