#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "component/oru/i_object.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/ioa.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/event_type_setting.h"

namespace sendara::edr_telemetry {

// One consumer of the host's telemetry, as the consumers manager calls it.
// Out values are written only on success.
class ISiemTelemetryConsumer : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = 0x3C39C4C2;

  virtual oru::Result GetConsumerId(std::uint64_t* consumerId) noexcept = 0;
  virtual oru::Result SetAllEventTypesDefaultSettings(const std::vector<EventTypeSetting>& settings) noexcept = 0;
  // NotInitialized until the consumer knows its event types.
  virtual oru::Result GetAllEventTypesSettings(std::vector<EventTypeSetting>& settings) noexcept = 0;
  virtual oru::Result GetIncludeRules(std::u16string& rules) noexcept = 0;
  virtual oru::Result SendEvent(std::u16string_view event) noexcept = 0;
  virtual oru::Result ShouldEventBeDropped(std::uint32_t throttlingId, std::u16string_view eventType,
                                           bool* shouldBeDropped) noexcept = 0;
  // May clear flags of the IOAs.
  virtual oru::Result ShouldEventOrIoaBeDropped(std::uint32_t throttlingId, std::u16string_view eventType,
                                                std::u16string_view event, std::vector<Ioa>& ioas,
                                                bool* shouldBeDropped) noexcept = 0;

 protected:
  ~ISiemTelemetryConsumer() = default;
};

}  // namespace sendara::edr_telemetry
