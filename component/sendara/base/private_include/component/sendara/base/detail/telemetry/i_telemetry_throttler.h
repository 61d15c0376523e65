#pragma once

#include <cstdint>
#include <optional>

#include "component/sendara/base/detail/telemetry/throttler_statistics.h"

namespace sendara::base::telemetry {

// Limits noisy event types when events arrive faster than the permitted rate.
class ITelemetryThrottler {
 public:
  virtual ~ITelemetryThrottler() = default;
  // Counts the event; true means drop it. Events that are not throttleable
  // are counted and never dropped.
  virtual bool IsThrottled(std::uint32_t eventTypeId, bool throttleable) = 0;
  // True when every event of the type is dropped at the moment (a query that
  // counts nothing).
  virtual bool IsEventBlocked(std::uint32_t eventTypeId) = 0;
  virtual std::optional<ThrottlerStatistics> GetPrevStatistics() = 0;
  virtual void SetPrevStatistics(const ThrottlerStatistics& statistics) = 0;
};

}  // namespace sendara::base::telemetry
