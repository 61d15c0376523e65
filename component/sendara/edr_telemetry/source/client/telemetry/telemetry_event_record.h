#pragma once

#include <cstdint>
#include <string>

namespace sendara::edr_telemetry::telemetry {

// One queued event: the identifier the queue gave it and its JSON text.
struct TelemetryEventRecord {
  // Counts from 1 in each queue; not persisted.
  std::uint64_t id = 0;
  // UTF-8.
  std::string text;
};

}  // namespace sendara::edr_telemetry::telemetry
