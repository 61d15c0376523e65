#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "component/oru/i_event_source.h"
#include "component/oru/i_object.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/ioa.h"

namespace sendara::edr_telemetry::task {

// Answers the consumer's drop questions.
class ISiemTelemetryDeciderEvent : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = 0x61D90B57;

  virtual oru::Result ShouldEventBeDropped(std::uint32_t throttlingId, std::u16string_view eventType,
                                           bool* shouldBeDropped) noexcept = 0;
  virtual oru::Result ShouldEventOrIoaBeDropped(std::uint32_t throttlingId, std::u16string_view eventType,
                                                std::u16string_view event, std::vector<Ioa>& ioas,
                                                bool* shouldBeDropped) noexcept = 0;

 protected:
  ~ISiemTelemetryDeciderEvent() = default;
};

using ISiemTelemetryDeciderEventSource = oru::IEventSource<ISiemTelemetryDeciderEvent, 0x6CDA37DC>;

}  // namespace sendara::edr_telemetry::task
