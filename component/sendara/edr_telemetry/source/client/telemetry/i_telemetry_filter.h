#pragma once

#include <string_view>
#include <vector>

#include "component/sendara/edr_telemetry/source/client/filtration/event_fields.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/ioa.h"

namespace sendara::edr_telemetry {

// Whether an event may be sent; every answer true means drop.
class ITelemetryFilter {
 public:
  virtual ~ITelemetryFilter() = default;
  virtual bool IsEventTypeFiltered(std::u16string_view eventType) const = 0;
  virtual bool IsDropFiltered(const filtration::EventFields& event) const = 0;
  // May clear the marks of IOAs in `ioas` (never removes one).
  virtual bool IsIoaFiltered(const filtration::EventFields& event, std::vector<Ioa>& ioas) const = 0;
  virtual bool IsTagFiltered(const std::vector<Ioa>& ioas) const = 0;
};

}  // namespace sendara::edr_telemetry
