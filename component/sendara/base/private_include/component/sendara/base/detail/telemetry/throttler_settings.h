#pragma once

#include <cstdint>

namespace sendara::base::telemetry {

// The request-count limits of the transfer settings.
struct ThrottlerSettings {
  // When false the throttler neither counts nor throttles.
  bool useRequestCountLimits = true;
  std::int32_t numberOfEventsInBlock = 300;
  // Share of a block, in percent, from which an event type is spam.
  std::int32_t eventLimitExceededPercentage = 15;
  // The permitted rate.
  std::int32_t maximumNumberOfEventsInHour = 3000;
};

}  // namespace sendara::base::telemetry
