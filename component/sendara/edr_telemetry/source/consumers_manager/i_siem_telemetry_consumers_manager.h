#pragma once

#include "component/oru/i_object.h"
#include "component/oru/service_ids.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumer.h"

namespace sendara::edr_telemetry {

// The consumers manager as consumers use it.
class ISiemTelemetryConsumersManager : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = oru::service_ids::kConsumersManager;

  virtual oru::Result AddTelemetryConsumer(ISiemTelemetryConsumer* consumer) noexcept = 0;
  virtual oru::Result RemoveTelemetryConsumer(ISiemTelemetryConsumer* consumer) noexcept = 0;
  // The consumer's event types or include rules changed.
  virtual oru::Result SendConsumerChanged() noexcept = 0;

 protected:
  ~ISiemTelemetryConsumersManager() = default;
};

}  // namespace sendara::edr_telemetry
