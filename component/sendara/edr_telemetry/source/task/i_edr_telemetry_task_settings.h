#pragma once

#include "component/oru/i_object.h"
#include "component/sendara/edr_telemetry/source/task/edr_telemetry_task_settings.h"

namespace sendara::edr_telemetry::task {

// The task's settings, as the host reads and changes them.
class IEdrTelemetryTaskSettings : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = 0x58C1D2E4;

  // Refused settings change nothing.
  virtual oru::Result SetSettings(const EdrTelemetryTaskSettings* settings) noexcept = 0;
  virtual oru::Result GetSettings(EdrTelemetryTaskSettings* settings) noexcept = 0;

 protected:
  ~IEdrTelemetryTaskSettings() = default;
};

}  // namespace sendara::edr_telemetry::task
