#pragma once

#include "component/oru/i_object.h"
#include "component/oru/result_code.h"
#include "component/oru/service_ids.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings.h"

namespace sendara::edr_telemetry {

// Optional host service that sees every incoming client settings record
// before it is validated, and may change it.
class IEdrTelemetryClientSettingsHook : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = oru::service_ids::kSettingsHook;

  // A failure code, or an exception, refuses the record: the settings in
  // force stay as they were.
  virtual oru::Result ProcessSettings(EdrTelemetryClientSettings& settings) = 0;

 protected:
  ~IEdrTelemetryClientSettingsHook() = default;
};

}  // namespace sendara::edr_telemetry
