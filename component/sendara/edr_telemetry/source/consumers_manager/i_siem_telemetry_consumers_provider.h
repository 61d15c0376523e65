#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "component/oru/i_object.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/ioa.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/consumer_event_type_settings.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/event_type_setting.h"

namespace sendara::edr_telemetry {

// The consumers manager as the host's telemetry producer uses it. Texts are
// zero-terminated UTF-16; a null one answers InvalidArgument, as does a null
// out pointer.
class ISiemTelemetryConsumersProvider : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = 0x7DA2613F;

  virtual oru::Result GetSiemTelemetryConsumers(std::vector<std::uint64_t>& consumerIds) noexcept = 0;
  virtual oru::Result SetAllEventTypesDefaultSettings(const std::vector<EventTypeSetting>& settings) noexcept = 0;
  virtual oru::Result GetAllEventTypesSettings(std::vector<ConsumerEventTypeSettings>& settings) noexcept = 0;
  virtual oru::Result GetIncludeRules(std::uint64_t consumerId, std::u16string& rules) noexcept = 0;
  virtual oru::Result SendEvent(std::uint64_t consumerId, const char16_t* event) noexcept = 0;
  virtual oru::Result ShouldEventBeDropped(std::uint32_t throttlingId, const char16_t* eventType,
                                           bool* shouldBeDropped) noexcept = 0;
  virtual oru::Result ShouldEventOrIoaBeDropped(std::uint64_t consumerId, std::uint32_t throttlingId,
                                                const char16_t* eventType, const char16_t* event,
                                                std::vector<Ioa>& ioas, bool* shouldBeDropped) noexcept = 0;

 protected:
  ~ISiemTelemetryConsumersProvider() = default;
};

}  // namespace sendara::edr_telemetry
