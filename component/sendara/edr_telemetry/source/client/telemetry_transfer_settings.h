#pragma once

#include <cstdint>

namespace sendara::edr_telemetry {

// How events are packed, paced and throttled on their way to the server.
struct TelemetryTransferSettings {
  // Milliseconds: the sending period and the wait before a reconnect.
  std::uint32_t maximumDataTransferTime = 30000;
  // Events per request. Signed because the host hands it over signed; only
  // positive values pass validation.
  std::int32_t maximumNumberOfEventsInPackage = 1024;
  // Enables the hourly limits below.
  bool useRequestCountLimits = true;
  // Sends only events that carry a tag.
  bool onlyTaggedEvents = false;
  // Throttling limit per event type and hour.
  std::int32_t maximumNumberOfEventsInHour = 3000;
  std::int32_t numberOfEventsInBlock = 300;
  std::int32_t eventLimitExceededPercentage = 15;
  // Bounds of the number of stored packages sent per fallback iteration.
  std::uint32_t minPacketsInFallbackSendIteration = 2;
  std::uint32_t maxPacketsInFallbackSendIteration = 1024;
};

}  // namespace sendara::edr_telemetry
